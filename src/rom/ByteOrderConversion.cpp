#include "rom/ByteOrderConversion.h"

#include "rom/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdint>
#include <cstring>

namespace tarnic {

void swapBytePairs(char *data, qint64 size)
{
    // Plain 16-bit rotations: the compiler turns this loop into vector code.
    const qint64 pairs = size / 2;
    for (qint64 i = 0; i < pairs; ++i) {
        std::uint16_t v;
        std::memcpy(&v, data + 2 * i, 2);
        v = std::uint16_t(v << 8 | v >> 8);
        std::memcpy(data + 2 * i, &v, 2);
    }
}

ConversionResult swapByteOrder(const QString &filePath, const std::function<void()> &workStarting)
{
    ConversionResult result;
    const QFileInfo info(filePath);
    if (filePath.isEmpty() || !info.isFile())
        return result;
    result.length = info.size();
    if (result.length < 2) {
        result.outcome = ConversionOutcome::TooShort;
        return result;
    }
    if (!isWritableFile(filePath)) {
        result.outcome = ConversionOutcome::NotWritable;
        return result;
    }
    if (workStarting)
        workStarting();

    result.outcome = ConversionOutcome::Failed;
    QFile original(filePath);
    QSaveFile converted(filePath);
    if (!original.open(QIODevice::ReadOnly) || !converted.open(QIODevice::WriteOnly))
        return result;
    if (!copyStream(original, converted, swapBytePairs) || converted.size() != result.length)
        return result; // the QSaveFile discards its temporary file
    original.close();
    if (converted.commit())
        result.outcome = ConversionOutcome::Converted;
    return result;
}

} // namespace tarnic
