#include "rom/ByteOrderConversion.h"

#include "files/SafeWrite.h"

#include <QFile>

#include <cstdint>
#include <cstring>
#include <utility>

namespace tarnic {

void swapBytePairs(char *data, qint64 size) {
    // Four pairs at a time in one 64-bit word, then the pairs left over.
    constexpr std::uint64_t lowBytes = 0x00FF00FF00FF00FFull;
    qint64 i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, data + i, 8);
        v = (v & lowBytes) << 8 | (v >> 8 & lowBytes);
        std::memcpy(data + i, &v, 8);
    }
    for (; i + 1 < size; i += 2)
        std::swap(data[i], data[i + 1]);
}

ConversionResult swapByteOrder(const QString &filePath, const std::function<void()> &workStarting) {
    ConversionResult result;
    QFile original;
    if (!openRegularFile(original, filePath))
        return result;
    result.length = original.size();
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
    ReplacedFileRelease oldContent(filePath);
    FileReplacement converted(filePath);
    if (converted.open() && copyStream(original, converted, swapBytePairs) &&
        converted.finish(result.length) && converted.commit())
        result.outcome = ConversionOutcome::Converted;
    return result;
}

} // namespace tarnic
