#include "patch/aps/ApsFormat.h"

#include "files/SafeWrite.h"

#include <QtEndian>

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

ApsRecordReader::Step ApsRecordReader::next(PatchRecord &record) {
    const auto readExactly = [this](char *into, qint64 size) {
        const qint64 got = readFully(stream_, into, size);
        return got < 0 ? Step::ReadFailed : got < size ? Step::Truncated : Step::Record;
    };
    char head[5];
    const qint64 got = readFully(stream_, head, sizeof head);
    if (got == 0)
        return Step::End;
    if (got < 0)
        return Step::ReadFailed;
    if (got < qint64(sizeof head))
        return Step::Truncated;

    record.Offset = qFromLittleEndian<qint32>(head);
    record.Length = std::uint8_t(head[4]);
    if (record.Length != 0) {
        record.Data = data_.data();
        return readExactly(data_.data(), record.Length);
    }
    record.Data = nullptr;
    char run[2];
    const Step step = readExactly(run, sizeof run);
    record.RunValue = std::uint8_t(run[0]);
    record.RunCount = std::uint8_t(run[1]);
    return step;
}

} // namespace tarnic
