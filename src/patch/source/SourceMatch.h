#pragma once
// An image read in one byte order and a new image written in another, for the
// patches that name their source by CRC-32 (BPS; UPS shares the source match
// and the CRC-32 footer, and writes through the record engine): the patch works in the
// order its source was made in, the files stay in the image's own order.
// Internal to src/patch.

#include "files/Crc32.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/ImageUpdate.h"
#include "patch/bps/Bps.h"
#include "patch/records/RecordStream.h"
#include "rom/ByteOrderConversion.h"

#include "files/FileReader.h"
#include "io/Reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace tarnic {

// What a patch says of its source and its result.
struct NamedImages {
    std::uint64_t sourceSize;
    std::uint32_t sourceCrc;
    std::uint64_t targetSize;
    std::uint32_t targetCrc;
};

struct SourceMatch {
    std::optional<ApplyOutcome> refusal; // why not to apply, if not
    ByteOrder stored;                    // the order the result is written in
};

// Tries the (locked) image in every byte order, its own first: the order it
// is the patch's source in goes to `result.readAs`; an image that is the
// result already, or (unless the check is skipped) no source in any order,
// is refused. `result` also gets the CRC-32s a refusal names.
SourceMatch matchSource(Reader &image, const NamedImages &named, bool skipSourceCheck,
                        ApplyResult &result);

// The image read in the patch's byte order, a block at a time, the last
// blocks read kept; blocks start at multiples of 4, so reordering one is
// reordering the file.
class SourceBlocks {
  public:
    SourceBlocks(Reader &image, std::int64_t size, ByteOrder stored, ByteOrder wanted)
        : image_(image), size_(size), stored_(stored), wanted_(wanted) {}

    // Copies `size` bytes from `offset` (inside the image) to `into`.
    bool read(std::int64_t offset, char *into, std::int64_t size) {
        while (size > 0) {
            const Block *block = blockAt(offset / kBlockSize);
            if (!block)
                return false;
            const std::int64_t at = offset % kBlockSize;
            const std::int64_t n = std::min(size, std::int64_t(block->bytes.size()) - at);
            if (n <= 0)
                return false;
            std::memcpy(into, block->bytes.data() + at, size_t(n));
            into += n;
            offset += n;
            size -= n;
        }
        return true;
    }

  private:
    static constexpr std::int64_t kBlockSize = 64 * 1024;
    static constexpr size_t kBlocksKept = 64; // 4 MiB

    struct Block {
        std::int64_t index = -1;
        std::vector<char> bytes;
    };

    const Block *blockAt(std::int64_t index) {
        for (const Block &block : blocks_) {
            if (block.index == index)
                return &block;
        }
        Block &block = blocks_[next_];
        next_ = (next_ + 1) % kBlocksKept;
        const std::int64_t start = index * kBlockSize;
        block.bytes.resize(size_t(std::min(kBlockSize, size_ - start)));
        block.index = -1;
        if (!image_.seek(start) ||
            image_.read(block.bytes.data(), std::int64_t(block.bytes.size())) !=
                std::int64_t(block.bytes.size()))
            return nullptr;
        reorderBytes(block.bytes.data(), std::int64_t(block.bytes.size()), stored_, wanted_);
        block.index = index;
        return &block;
    }

    Reader &image_;
    std::int64_t size_;
    ByteOrder stored_;
    ByteOrder wanted_;
    std::array<Block, kBlocksKept> blocks_;
    size_t next_ = 0;
};

// The target, written in the patch's byte order and stored in the image's:
// bytes gather in a piece that goes to the file once full; a copy from
// further back reads the file again. Nothing larger than a piece is held,
// however long an action is.
class TargetWriter {
  public:
    TargetWriter(Writer &file, ByteOrder written, ByteOrder stored)
        : file_(file), written_(written), stored_(stored), piece_(size_t(kPieceSize)) {}

    std::int64_t size() const { return start_ + filled_; }
    std::uint32_t crc() const { return crc32(crc_, piece_.data(), size_t(filled_)); }

    // Appends `size` bytes that `fill(into, n)` puts at `into`, n bytes at a
    // time, straight into the piece; false when `fill` or a write fails.
    template <typename Fill> bool appendFrom(std::int64_t size, Fill &&fill) {
        while (size > 0) {
            const std::int64_t n = std::min(size, kPieceSize - filled_);
            if (!fill(piece_.data() + filled_, n))
                return false;
            filled_ += n;
            size -= n;
            if (filled_ == kPieceSize && !flush())
                return false;
        }
        return true;
    }

    bool append(const char *data, std::int64_t size) {
        return appendFrom(size, [&data](char *into, std::int64_t n) {
            std::memcpy(into, data, size_t(n));
            data += n;
            return true;
        });
    }

    // Copies `size` bytes of the target from `from` (already written) to its
    // end. Where the copy reaches into what it writes itself, what it writes
    // repeats with the distance between the two as its period.
    bool copy(std::int64_t from, std::int64_t size) {
        std::vector<char> buffer;
        while (size > 0) {
            const std::int64_t distance = this->size() - from;
            const std::int64_t n = std::min(size, std::int64_t(64 * 1024));
            const std::int64_t known = std::min(n, distance);
            buffer.resize(size_t(n));
            if (!read(from, buffer.data(), known))
                return false;
            for (std::int64_t i = known; i < n; ++i)
                buffer[size_t(i)] = buffer[size_t(i - distance)];
            if (!append(buffer.data(), n))
                return false;
            from += n;
            size -= n;
        }
        return true;
    }

    bool flush() {
        crc_ = crc();
        // The piece is reordered in place once summed; nothing reads it again.
        reorderBytes(piece_.data(), filled_, written_, stored_);
        if (!file_.writeAt(start_, piece_.data(), filled_))
            return false;
        start_ += filled_;
        filled_ = 0;
        return true;
    }

  private:
    static constexpr std::int64_t kPieceSize = 1 << 20; // a multiple of 4

    // Reads target bytes already written (all before size()).
    bool read(std::int64_t from, char *into, std::int64_t size) {
        const std::int64_t inFile = std::clamp(start_ - from, std::int64_t(0), size);
        if (inFile > 0) {
            // Whole words from the file, so that they can be put back in order.
            const std::int64_t first = from & ~std::int64_t(3);
            const std::int64_t end = std::min(start_, (from + inFile + 3) & ~std::int64_t(3));
            std::vector<char> words(size_t(end - first));
            if (!file_.readAt(first, words.data(), end - first))
                return false;
            reorderBytes(words.data(), end - first, stored_, written_);
            std::memcpy(into, words.data() + (from - first), size_t(inFile));
        }
        if (size > inFile)
            std::memcpy(into + inFile, piece_.data() + (from + inFile - start_),
                        size_t(size - inFile));
        return true;
    }

    Writer &file_;
    ByteOrder written_;
    ByteOrder stored_;
    std::vector<char> piece_;
    std::int64_t filled_ = 0; // bytes of piece_ in use
    std::int64_t start_ = 0;  // where piece_ starts in the target
    std::uint32_t crc_ = 0;
};

// BPS and UPS end with three CRC-32s: source, target, the patch itself.
inline constexpr std::int64_t kCrcFooterSize = 12;

// How running a patch's body (BPS actions) ended.
enum class BodyRun { Applied, Invalid, ReadFailed, WriteFailed };

// The three CRC-32s that end a patch, and the CRC-32 of its bytes but the last
// four (with PatchCrcCheck::Deferred, `computed` is `patch`, and only the
// footer is read).
struct CrcFooter {
    std::uint32_t source = 0;
    std::uint32_t target = 0;
    std::uint32_t patch = 0;
    std::uint32_t computed = 0;
};
// None when the patch cannot be read.
std::optional<CrcFooter> readCrcFooter(Reader &patch, PatchCrcCheck check);

// How reading a patch ends once its footer is read: Readable, or Damaged
// (with `fault` set) where its own CRC-32 is wrong.
inline PatchRead footerRead(const CrcFooter &crcs, PatchFault &fault) {
    if (crcs.computed == crcs.patch)
        return PatchRead::Readable;
    fault = PatchFault::OwnCrcWrong;
    return PatchRead::Damaged;
}

// The refusal of a patch whose reading ended as `read` (with `fault`), or
// that names a result larger than can be written; none for one to apply.
inline std::optional<ApplyResult> refusedUnread(PatchRead read, PatchFault fault,
                                                std::uint64_t resultSize) {
    if (read == PatchRead::Readable && resultSize <= kLargestResult)
        return std::nullopt;
    ApplyResult refused;
    refused.fault = read != PatchRead::Readable ? fault : PatchFault::TargetTooLarge;
    refused.outcome =
        refusalOf(read != PatchRead::Readable ? read : PatchRead::Damaged, refused.fault);
    return refused;
}

// Applies a patch that names its source and result (BPS) read from `patch` to
// the image read from `image`: the image tried in every byte order, the
// question asked, then `runBody(patch, source, imageSize, target)` run from
// `bodyStart` of the patch, the result's CRC-32 checked and the result put in
// `place` in the image's own order.
template <typename RunBody>
ApplyOutcome applyNamedSourceTo(Reader &patch, Reader &image, ResultPlace &place,
                                const NamedImages &named, bool skipSourceCheck,
                                std::int64_t bodyStart, ApplyResult &result, RunBody &&runBody) {
    const SourceMatch match = matchSource(image, named, skipSourceCheck, result);
    if (match.refusal)
        return *match.refusal;
    if (const auto refused = place.startWriting())
        return *refused;
    if (!patch.seek(bodyStart))
        return ApplyOutcome::PatchUnreadable;
    SourceBlocks source(image, image.size(), match.stored, result.readAs);
    TargetWriter target(place.writer(), result.readAs, match.stored);
    switch (runBody(patch, source, image.size(), target)) {
    case BodyRun::Applied:
        break;
    case BodyRun::Invalid:
        return ApplyOutcome::PatchBreaksItsRules;
    case BodyRun::ReadFailed:
        return ApplyOutcome::PatchUnreadable;
    case BodyRun::WriteFailed:
        return place.putInPlace(false, result);
    }
    if (target.crc() != named.targetCrc)
        return ApplyOutcome::ResultMismatch;
    result.bytesWritten = std::int64_t(named.targetSize);
    const bool written = target.flush() && place.writer().finish(std::int64_t(named.targetSize));
    return place.putInPlace(written, result);
}

// Runs `apply(patch, image, place, result)` on files: the image locked for
// the whole operation and replaced (or the output written) only once the
// result is complete and right.
template <typename Apply> ApplyResult applyToFiles(const PatchJob &job, Apply &&apply) {
    ApplyResult result;
    const auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    ImageUpdate update(job);
    if (const auto refused = update.lockImage(result))
        return finish(*refused);
    FileReader image;
    if (!image.open(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);
    FileReader patch;
    if (!patch.open(job.patchPath))
        return finish(ApplyOutcome::PatchUnreadable);
    return finish(apply(patch, image, update, result));
}

// applyNamedSourceTo() on files.
template <typename RunBody>
ApplyResult applyNamedSourcePatch(const PatchJob &job, const NamedImages &named,
                                  std::int64_t bodyStart, RunBody &&runBody) {
    return applyToFiles(
        job, [&](Reader &patch, Reader &image, ResultPlace &place, ApplyResult &result) {
            return applyNamedSourceTo(patch, image, place, named, job.skipSourceCheck, bodyStart,
                                      result, runBody);
        });
}

} // namespace tarnic
