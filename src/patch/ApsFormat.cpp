#include "patch/ApsFormat.h"

#include <QIODevice>

namespace tarnic {

const std::array<QString, 2> PatchTypeNames = {
    padRight(QStringLiteral("Simple Patch"), kPatchNameWidth),
    padRight(QStringLiteral("N64 Specific Patch"), kPatchNameWidth),
};

const std::array<QString, 2> EncodingNames = {
    padRight(QStringLiteral("Simple Encoding"), kPatchNameWidth),
    padRight(QStringLiteral("Unsoported Encoding"), kPatchNameWidth),
};

QString bytesToText(const char *data, qsizetype size) { return QString::fromLatin1(data, size); }

bool PatchRecordReader::readExactly(char *into, qint64 size, Step &failure)
{
    const qint64 got = patch_.read(into, size);
    if (got == size)
        return true;
    failure = got < 0 ? Step::ReadError : Step::Truncated;
    return false;
}

PatchRecordReader::Step PatchRecordReader::next(PatchRecord &record)
{
    char head[5];
    const qint64 got = patch_.read(head, sizeof head);
    if (got == 0)
        return Step::End;
    if (got < 0)
        return Step::ReadError;
    if (got < qint64(sizeof head))
        return Step::Truncated;

    const auto byte = [&](int i) { return std::uint32_t(std::uint8_t(head[i])); };
    record.Offset = std::int32_t(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    record.Length = std::uint8_t(head[4]);

    Step failure = Step::Truncated;
    if (record.Length != 0)
        return readExactly(record.Data.data(), record.Length, failure) ? Step::Record : failure;

    char run[2];
    if (!readExactly(run, sizeof run, failure))
        return failure;
    record.RunValue = std::uint8_t(run[0]);
    record.RunCount = std::uint8_t(run[1]);
    return Step::Record;
}

} // namespace tarnic
