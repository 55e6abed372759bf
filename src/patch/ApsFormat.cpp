#include "patch/ApsFormat.h"

namespace tarnic {

const std::array<QString, 2> PatchTypeNames = {
    padRight(QStringLiteral("Simple Patch"), kPatchNameWidth),
    padRight(QStringLiteral("N64 Specific Patch"), kPatchNameWidth),
};

const std::array<QString, 2> EncodingNames = {
    padRight(QStringLiteral("Simple Encoding"), kPatchNameWidth),
    padRight(QStringLiteral("Unsoported Encoding"), kPatchNameWidth),
};

QString bytesToText(const char *data, qsizetype size) {
    return QString::fromLatin1(data, size);
}

PatchRecordReader::Step PatchRecordReader::next(PatchRecord &record) {
    const qsizetype left = stream_.size() - position_;
    if (left == 0)
        return Step::End;
    if (left < 5)
        return Step::Truncated;

    const char *head = stream_.data() + position_;
    const auto byte = [&](int i) { return std::uint32_t(std::uint8_t(head[i])); };
    record.Offset = std::int32_t(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    record.Length = std::uint8_t(head[4]);
    const qsizetype size = record.Length != 0 ? 5 + record.Length : 7;
    if (left < size)
        return Step::Truncated;

    if (record.Length != 0) {
        record.Data = head + 5;
    } else {
        record.Data = nullptr;
        record.RunValue = std::uint8_t(head[5]);
        record.RunCount = std::uint8_t(head[6]);
    }
    position_ += size;
    return Step::Record;
}

} // namespace tarnic
