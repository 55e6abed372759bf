#include "rom/ByteOrderConversion.h"

#include "files/FileLock.h"
#include "files/OwnNames.h"
#include "files/SafeWrite.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

namespace tarnic {

namespace {

// The loops below are written element by element, so that the compiler turns
// them into byte shuffles of whole vectors; where the processor has AVX2 a
// second copy using it is chosen when the program starts.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define TARNIC_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNIC_VECTOR_CLONES
#endif

// Writes `step` of every `Word` of `from` to the same place in `to` (which may
// be `from`); bytes past the last whole word are copied as they are.
template <typename Word, typename Step>
inline void eachWord(const char *from, char *to, std::int64_t size, Step step) {
    std::int64_t i = 0;
    for (; i + std::int64_t(sizeof(Word)) <= size; i += std::int64_t(sizeof(Word))) {
        Word v;
        std::memcpy(&v, from + i, sizeof(Word));
        v = step(v);
        std::memcpy(to + i, &v, sizeof(Word));
    }
    if (from != to)
        std::memcpy(to + i, from + i, size_t(size - i));
}

// Every 32-bit word's bytes reversed: cartridge order <-> little-endian.
TARNIC_VECTOR_CLONES void reverseWords(const char *from, char *to, std::int64_t size) {
    eachWord<std::uint32_t>(from, to, size, [](std::uint32_t v) { return __builtin_bswap32(v); });
}

// The two halves of every 32-bit word exchanged: byte-swapped <-> little-endian.
TARNIC_VECTOR_CLONES void swapHalfWords(const char *from, char *to, std::int64_t size) {
    eachWord<std::uint32_t>(from, to, size, [](std::uint32_t v) { return std::rotr(v, 16); });
}

// Every pair of bytes exchanged; a last odd byte stays.
TARNIC_VECTOR_CLONES void swapPairs(const char *from, char *to, std::int64_t size) {
    eachWord<std::uint16_t>(from, to, size, [](std::uint16_t v) { return __builtin_bswap16(v); });
}

bool involves(ByteOrder a, ByteOrder b, ByteOrder order) {
    return a == order || b == order;
}

// Writes the converted `image` (read from `original`) to `target`, which may be
// the image itself; nothing replaces it should the image change meanwhile.
ConversionOutcome rewrite(const std::filesystem::path &image, Reader &original, std::int64_t length,
                          const std::filesystem::path &target, const ChunkTransform &transform,
                          const FileLock &lock, ConversionResult &result) {
    const WriteStatus status = replaceWithTransformed(original, length, target, transform,
                                                      KeepUnchanged{image, lock.identity()});
    result.systemError = status.systemError;
    result.folderFlushError = status.folderFlushError;
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

// Locks the image for the whole conversion, and settles what a killed run
// left beside it; an outcome when it cannot be locked.
std::optional<ConversionOutcome> lockFailure(const FileLock &lock,
                                             const std::filesystem::path &image) {
    switch (lock.outcome()) {
    case FileLock::Outcome::Locked:
        if (!lock.heldBefore())
            settleLeftoversOf(image);
        return std::nullopt;
    case FileLock::Outcome::Busy:
        return ConversionOutcome::Busy;
    case FileLock::Outcome::Missing:
        break;
    }
    return ConversionOutcome::Missing;
}

} // namespace

void swapBytePairs(char *data, std::int64_t size) {
    swapPairs(data, data, size);
}

void reorderBytes(char *data, std::int64_t size, ByteOrder from, ByteOrder to) {
    copyReordered(data, data, size, from, to);
}

void copyReordered(const char *source, char *target, std::int64_t size, ByteOrder from,
                   ByteOrder to) {
    if (from == to) {
        if (source != target)
            std::memcpy(target, source, size_t(size));
    } else if (!involves(from, to, ByteOrder::LittleEndian)) {
        swapPairs(source, target, size);
    } else if (involves(from, to, ByteOrder::Cartridge)) {
        reverseWords(source, target, size);
    } else {
        swapHalfWords(source, target, size);
        // The tail too short for a word is as in cartridge order in a
        // little-endian image, and has its pair exchanged in a byte-swapped one.
        const std::int64_t tail = size % 4;
        if (tail >= 2)
            std::swap(target[size - tail], target[size - tail + 1]);
    }
}

ConversionResult swapByteOrder(const std::filesystem::path &filePath,
                               const std::function<void()> &workStarting) {
    ConversionResult result;
    const FileLock lock(filePath);
    if (const auto failure = lockFailure(lock, filePath)) {
        result.outcome = *failure;
        return result;
    }
    FileReader original;
    if (!original.open(filePath))
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

ConversionResult convertImage(const std::filesystem::path &filePath, ByteOrder to,
                              const std::filesystem::path &outputPath,
                              const std::function<void()> &workStarting) {
    ConversionResult result;
    if (!outputPath.empty() && sameFile(outputPath, filePath)) {
        result.outcome = ConversionOutcome::OutputIsTheImage;
        return result;
    }
    // Nothing the conversion writes may be the image it reads, nor be held by
    // something else.
    std::vector<std::filesystem::path> written =
        namesOfReplacing(outputPath.empty() ? filePath : outputPath);
    if (outputPath.empty())
        written.erase(written.begin());
    if (const NameClash clash = findClash(written, {filePath})) {
        result.clash = clash;
        result.outcome = ConversionOutcome::NameClash;
        return result;
    }
    const FileLock lock(filePath);
    if (const auto failure = lockFailure(lock, filePath)) {
        result.outcome = *failure;
        return result;
    }
    HeaderBytes header;
    FileReader original;
    if (!readHeaderBytes(filePath, header) || !original.open(filePath))
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
    const std::filesystem::path &target = outputPath.empty() ? filePath : outputPath;
    if (target == filePath ? !isWritableFile(target) : !canBeCreatedOrReplaced(target))
        return finish(ConversionOutcome::NotWritable);
    const ByteOrder from = result.from;
    if (workStarting)
        workStarting();
    return finish(rewrite(
        filePath, original, result.length, target,
        [from, to](char *data, std::int64_t size) { reorderBytes(data, size, from, to); }, lock,
        result));
}

std::vector<ByteOrder> readableOrders(ByteOrder own) {
    std::vector<ByteOrder> orders{own};
    if (own == ByteOrder::Unknown)
        return orders;
    for (const ByteOrder other :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        if (other != own)
            orders.push_back(other);
    }
    return orders;
}

} // namespace tarnic
