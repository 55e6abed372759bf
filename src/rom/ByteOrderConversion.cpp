#include "rom/ByteOrderConversion.h"

#include "files/FileLock.h"
#include "files/SafeWrite.h"

#include <QFile>
#include <QtEndian>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

namespace tarnic {

namespace {

// Applies `step` to every aligned 64-bit word, then `tail` to what is left.
template <typename Step> qint64 eachWord64(char *data, qint64 size, Step step) {
    qint64 i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, data + i, 8);
        v = step(v);
        std::memcpy(data + i, &v, 8);
    }
    return i;
}

// Every 32-bit word's bytes reversed: cartridge order <-> little-endian.
void reverseWords(char *data, qint64 size) {
    // Reversing all eight bytes reverses both words and exchanges them; the
    // rotation puts them back in place.
    qint64 i = eachWord64(data, size, [](std::uint64_t v) { return std::rotr(qbswap(v), 32); });
    for (; i + 3 < size; i += 4)
        qToUnaligned(qbswap(qFromUnaligned<quint32>(data + i)), data + i);
}

// The two halves of every 32-bit word exchanged: byte-swapped <-> little-endian.
void swapHalfWords(char *data, qint64 size) {
    qint64 i = eachWord64(data, size, [](std::uint64_t v) {
        return (v & 0x0000FFFF0000FFFFull) << 16 | (v >> 16 & 0x0000FFFF0000FFFFull);
    });
    for (; i + 3 < size; i += 4) {
        std::swap(data[i], data[i + 2]);
        std::swap(data[i + 1], data[i + 3]);
    }
}

bool involves(ByteOrder a, ByteOrder b, ByteOrder order) {
    return a == order || b == order;
}

// Writes the converted `image` (read from `original`) to `target`, which may be
// the image itself; nothing replaces it should the image change meanwhile.
ConversionOutcome rewrite(const QString &image, QFile &original, qint64 length,
                          const QString &target, const ChunkTransform &transform,
                          const FileLock &lock, ConversionResult &result) {
    const WriteStatus status = replaceWithTransformed(original, length, target, transform,
                                                      KeepUnchanged{image, lock.identity()});
    result.systemError = status.systemError;
    switch (status.outcome) {
    case WriteStatus::Written:
        return ConversionOutcome::Converted;
    case WriteStatus::Changed:
        return ConversionOutcome::Changed;
    case WriteStatus::Failed:
        break;
    }
    return ConversionOutcome::Failed;
}

// Locks the image for the whole conversion; an outcome when it cannot be.
std::optional<ConversionOutcome> lockFailure(const FileLock &lock) {
    switch (lock.outcome()) {
    case FileLock::Outcome::Locked:
        return std::nullopt;
    case FileLock::Outcome::Busy:
        return ConversionOutcome::Busy;
    case FileLock::Outcome::Missing:
        break;
    }
    return ConversionOutcome::Missing;
}

} // namespace

void swapBytePairs(char *data, qint64 size) {
    // Four pairs at a time in one 64-bit word, then the pairs left over.
    const qint64 i = eachWord64(data, size, [](std::uint64_t v) {
        return (v & 0x00FF00FF00FF00FFull) << 8 | (v >> 8 & 0x00FF00FF00FF00FFull);
    });
    for (qint64 k = i; k + 1 < size; k += 2)
        std::swap(data[k], data[k + 1]);
}

void reorderBytes(char *data, qint64 size, ByteOrder from, ByteOrder to) {
    if (from == to)
        return;
    if (!involves(from, to, ByteOrder::LittleEndian))
        swapBytePairs(data, size);
    else if (involves(from, to, ByteOrder::Cartridge))
        reverseWords(data, size);
    else
        swapHalfWords(data, size);
}

ConversionResult swapByteOrder(const QString &filePath, const std::function<void()> &workStarting) {
    ConversionResult result;
    const FileLock lock(filePath);
    if (const auto failure = lockFailure(lock)) {
        result.outcome = *failure;
        return result;
    }
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
    result.outcome =
        rewrite(filePath, original, result.length, filePath, swapBytePairs, lock, result);
    return result;
}

ConversionResult convertImage(const QString &filePath, ByteOrder to, const QString &outputPath) {
    ConversionResult result;
    if (!outputPath.isEmpty() && sameFile(outputPath, filePath)) {
        result.outcome = ConversionOutcome::OutputIsTheImage;
        return result;
    }
    const FileLock lock(filePath);
    if (const auto failure = lockFailure(lock)) {
        result.outcome = *failure;
        return result;
    }
    HeaderBytes header;
    QFile original;
    if (!readHeaderBytes(filePath, header) || !openRegularFile(original, filePath))
        return result;
    result.length = original.size();
    result.from = byteOrderOf(header);
    const auto finish = [&](ConversionOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    if (result.from == ByteOrder::Unknown || to == ByteOrder::Unknown)
        return finish(ConversionOutcome::Unrecognised);
    if (result.from == to)
        return finish(ConversionOutcome::AlreadyInOrder);
    if (involves(result.from, to, ByteOrder::LittleEndian) && result.length % 4 != 0)
        return finish(ConversionOutcome::NotWholeWords);
    const QString &target = outputPath.isEmpty() ? filePath : outputPath;
    if (target == filePath ? !isWritableFile(target) : !canBeCreatedOrReplaced(target))
        return finish(ConversionOutcome::NotWritable);
    const ByteOrder from = result.from;
    return finish(rewrite(
        filePath, original, result.length, target,
        [from, to](char *data, qint64 size) { reorderBytes(data, size, from, to); }, lock, result));
}

} // namespace tarnic
