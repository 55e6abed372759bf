#include "files/Crc32.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/PatchCreation.h"
#include "patch/aps/ApsFormat.h"
#include "patch/bps/Bps.h"
#include "patch/varint/Varint.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace tarnic {

namespace {

// The source is indexed every kStride bytes by the hash of the kWindow bytes
// there; a target stretch that the source holds elsewhere (a moved block) is
// found from any of its positions once it is at least kWindow + kStride long.
constexpr std::int64_t kWindow = 32;
constexpr std::int64_t kStride = 32;
constexpr int kTableBits = 22;
// A run this long in the target is one literal byte and a copy of it.
constexpr std::int64_t kRunWorthIt = 8;

// The hash of the kWindow bytes at `bytes`: its top kTableBits pick a slot of
// the table, the kCheckBits below them are kept in the slot, so that most
// windows that merely share a slot are told apart without reading the source.
constexpr int kCheckBits = 4;
std::uint64_t windowHash(const unsigned char *bytes) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, bytes, 8);
    std::memcpy(&b, bytes + kWindow - 8, 8);
    return (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
}

size_t slotOf(std::uint64_t hash) {
    return size_t(hash >> (64 - kTableBits));
}

// A slot holds 0 (empty) or, for the source position p (a multiple of
// kStride), p / kStride + 1 above the hash's check bits.
std::uint32_t slotEntry(std::int64_t position, std::uint64_t hash) {
    static_assert((std::uint64_t(kLastWritableOffset) / kStride + 1) << kCheckBits <= UINT32_MAX);
    return std::uint32_t(position / kStride + 1) << kCheckBits |
           (std::uint32_t(hash >> (64 - kTableBits - kCheckBits)) & ((1u << kCheckBits) - 1));
}

// The table of source positions: 2^kTableBits zeroed slots. It is far larger
// than the processor's caches and read at random, so on Linux it asks for huge
// pages, which spares most of the address translations such reads cost.
class PositionTable {
  public:
    PositionTable() {
#if defined(__unix__)
        void *mapped = ::mmap(nullptr, kBytes + kHugePage, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            mapped_ = mapped;
            // Huge pages start on their own boundary.
            const auto at = (reinterpret_cast<std::uintptr_t>(mapped) + kHugePage - 1) &
                            ~std::uintptr_t(kHugePage - 1);
            slots_ = reinterpret_cast<std::uint32_t *>(at);
#if defined(MADV_HUGEPAGE)
            ::madvise(slots_, kBytes, MADV_HUGEPAGE);
#endif
            return;
        }
#endif
        fallback_.assign(kSlots, 0);
        slots_ = fallback_.data();
    }
    ~PositionTable() {
#if defined(__unix__)
        if (mapped_)
            ::munmap(mapped_, kBytes + kHugePage);
#endif
    }
    PositionTable(const PositionTable &) = delete;
    PositionTable &operator=(const PositionTable &) = delete;

    std::uint32_t &operator[](size_t slot) {
        return slots_[slot];
    }

  private:
    static constexpr size_t kSlots = size_t(1) << kTableBits;
    static constexpr size_t kBytes = kSlots * sizeof(std::uint32_t);
    static constexpr size_t kHugePage = size_t(2) << 20;
    void *mapped_ = nullptr;
    std::uint32_t *slots_ = nullptr;
    std::vector<std::uint32_t> fallback_;
};

// The patch, written out as it is made, with its CRC-32.
class PatchOutput {
  public:
    explicit PatchOutput(Writer &file) : file_(file) {}

    void number(std::uint64_t value) {
        appendVarint(buffer_, value);
        spill();
    }
    void bytes(const char *data, std::int64_t size) {
        buffer_.append(data, size);
        spill();
    }
    bool flush() {
        crc_ = crc32(crc_, buffer_.data(), size_t(buffer_.size()));
        size_ += buffer_.size();
        const bool written = file_.write(buffer_);
        buffer_.clear();
        return written && ok_;
    }
    std::uint32_t crc() const { return crc_; }
    std::int64_t size() const { return size_ + buffer_.size(); }

  private:
    void spill() {
        if (buffer_.size() >= (1 << 16))
            ok_ = flush() && ok_;
    }

    Writer &file_;
    std::string buffer_;
    std::uint32_t crc_ = 0;
    std::int64_t size_ = 0;
    bool ok_ = true;
};

// Greedy delta encoding: at each target position the longest of reading the
// source in place, copying from elsewhere in the source, or repeating a run;
// what none of them covers is read from the patch.
class DeltaEncoder {
  public:
    DeltaEncoder(const unsigned char *source, std::int64_t sourceSize, const unsigned char *target,
                 std::int64_t targetSize, PatchOutput &out)
        : source_(source), sourceSize_(sourceSize), target_(target), targetSize_(targetSize),
          out_(out) {
        // The slot of a position a few strides ahead is fetched meanwhile,
        // the table being far larger than the processor's caches.
        constexpr std::int64_t kAhead = 8 * kStride;
        for (std::int64_t at = 0; at + kWindow <= sourceSize_; at += kStride) {
            if (at + kAhead + kWindow <= sourceSize_)
                __builtin_prefetch(&table_[slotOf(windowHash(source_ + at + kAhead))], 1);
            const std::uint64_t hash = windowHash(source_ + at);
            table_[slotOf(hash)] = slotEntry(at, hash);
        }
    }

    void run() {
        std::int64_t at = 0;
        while (at < targetSize_) {
            const std::int64_t inPlace = matchLength(at, at);
            if (inPlace > 0 && inPlace >= 1 + 1 + (literalStart_ >= 0) + (inPlace == 1)) {
                flushLiteral(at);
                action(0, inPlace);
                at += inPlace;
                continue;
            }
            if (const std::int64_t moved = sourceCopy(at)) {
                at += moved;
                continue;
            }
            const std::int64_t run = runLength(at);
            // A run copied whole from an earlier one of the same byte, at least
            // as long, costs a copy and no literal byte.
            const Run &earlier = longestRun_[std::uint8_t(target_[at])];
            if (run >= 4 && earlier.length >= run &&
                2 + varintSize(cursorMove(earlier.start, targetCursor_)) < run) {
                flushLiteral(at);
                copyFromTarget(earlier.start, run);
                at += run;
                continue;
            }
            if (run >= kRunWorthIt) {
                literalStart_ = literalStart_ < 0 ? at : literalStart_;
                flushLiteral(at + 1);
                copyFromTarget(at, run - 1);
                if (run > earlier.length)
                    longestRun_[std::uint8_t(target_[at])] = {at, run};
                at += run;
                continue;
            }
            if (literalStart_ < 0)
                literalStart_ = at;
            ++at;
        }
        flushLiteral(targetSize_);
    }

    std::int64_t actions = 0;

  private:
    std::int64_t matchLength(std::int64_t sourceAt, std::int64_t targetAt) const {
        const std::int64_t limit = std::min(sourceSize_ - sourceAt, targetSize_ - targetAt);
        std::int64_t n = 0;
        while (n + 8 <= limit &&
               std::memcmp(source_ + sourceAt + n, target_ + targetAt + n, 8) == 0)
            n += 8;
        while (n < limit && source_[sourceAt + n] == target_[targetAt + n])
            ++n;
        return std::max<std::int64_t>(n, 0);
    }

    std::int64_t runLength(std::int64_t at) const {
        std::int64_t end = at + 1;
        while (end < targetSize_ && target_[end] == target_[at])
            ++end;
        return end - at;
    }

    // A copy from elsewhere in the source, taking back what it can of the
    // literal bytes before it; the bytes it covers from `at`, or 0.
    std::int64_t sourceCopy(std::int64_t at) {
        if (at + kWindow > targetSize_)
            return 0;
        // Literal bytes are tried one after another: the slot of one a little
        // further on is fetched meanwhile.
        constexpr std::int64_t kAhead = 8;
        if (at + kAhead + kWindow <= targetSize_)
            __builtin_prefetch(&table_[slotOf(windowHash(target_ + at + kAhead))]);
        const std::uint64_t hash = windowHash(target_ + at);
        const std::uint32_t entry = table_[slotOf(hash)];
        if (entry == 0 || (entry ^ slotEntry(0, hash)) & ((1u << kCheckBits) - 1))
            return 0;
        std::int64_t from = std::int64_t((entry >> kCheckBits) - 1) * kStride;
        std::int64_t length = matchLength(from, at);
        if (length < kWindow)
            return 0;
        std::int64_t start = at;
        const std::int64_t floor = literalStart_ >= 0 ? literalStart_ : at;
        while (start > floor && from > 0 && source_[from - 1] == target_[start - 1]) {
            --start;
            --from;
            ++length;
        }
        flushLiteral(start);
        const std::int64_t delta = from - sourceCursor_;
        action(2, length);
        out_.number(std::uint64_t(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0));
        sourceCursor_ = from + length;
        return length - (at - start);
    }

    static std::uint64_t cursorMove(std::int64_t to, std::int64_t from) {
        const std::int64_t delta = to - from;
        return std::uint64_t(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0);
    }

    static int varintSize(std::uint64_t value) {
        int size = 1;
        for (; value >= 0x80; ++size)
            value = (value >> 7) - 1;
        return size;
    }

    void copyFromTarget(std::int64_t from, std::int64_t length) {
        action(3, length);
        out_.number(cursorMove(from, targetCursor_));
        targetCursor_ = from + length;
    }

    void flushLiteral(std::int64_t end) {
        if (literalStart_ < 0)
            return;
        if (end > literalStart_) {
            action(1, end - literalStart_);
            out_.bytes(reinterpret_cast<const char *>(target_ + literalStart_),
                       end - literalStart_);
        }
        literalStart_ = -1;
    }

    void action(int command, std::int64_t length) {
        out_.number(std::uint64_t(length - 1) << 2 | std::uint64_t(command));
        ++actions;
    }

    const unsigned char *source_;
    std::int64_t sourceSize_;
    const unsigned char *target_;
    std::int64_t targetSize_;
    PatchOutput &out_;
    PositionTable table_;
    // The longest run of each byte value written so far.
    struct Run {
        std::int64_t start = 0;
        std::int64_t length = 0;
    };
    std::array<Run, 256> longestRun_{};
    std::int64_t literalStart_ = -1;
    std::int64_t sourceCursor_ = 0;
    std::int64_t targetCursor_ = 0;
};

// The whole file, mapped where the system allows, else read.
class WholeFile {
  public:
    bool open(const std::filesystem::path &path) {
        if (!file_.open(path))
            return false;
        size_ = file_.size();
        if (size_ == 0)
            return true;
        data_ = reinterpret_cast<const unsigned char *>(file_.map(0, size_));
        if (!data_) {
            copy_.resize(size_t(size_));
            if (file_.readAt(0, copy_.data(), size_) != size_)
                return false;
            data_ = reinterpret_cast<const unsigned char *>(copy_.data());
        }
        return true;
    }
    const unsigned char *data() const { return data_; }
    std::int64_t size() const { return size_; }

  private:
    FileReader file_;
    std::string copy_;
    const unsigned char *data_ = nullptr;
    std::int64_t size_ = 0;
};

} // namespace

CreateResult createBpsPatch(const CreateJob &job) {
    CreateResult result;
    const auto finish = [&](CreateOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    if (const auto refused = refusedPatchPath(job, result))
        return finish(*refused);
    WholeFile original;
    WholeFile modified;
    if (!original.open(job.originalPath))
        return finish(CreateOutcome::OriginalUnreadable);
    if (!modified.open(job.modifiedPath))
        return finish(CreateOutcome::ModifiedUnreadable);
    if (original.size() > kLastWritableOffset || modified.size() > kLastWritableOffset)
        return finish(CreateOutcome::ModifiedTooLarge);

    FileReplacement patch(job.patchPath);
    if (!patch.open()) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();
    PatchOutput out(patch);
    const std::string &metadata = job.description;
    out.bytes(kBpsMagic, 4);
    out.number(std::uint64_t(original.size()));
    out.number(std::uint64_t(modified.size()));
    out.number(std::uint64_t(metadata.size()));
    out.bytes(metadata.data(), metadata.size());
    DeltaEncoder encoder(original.data(), original.size(), modified.data(), modified.size(), out);
    // The two images' CRC-32s are summed on the other core while the delta is
    // made.
    std::uint32_t originalCrc = 0;
    std::uint32_t modifiedCrc = 0;
    std::thread summing([&] {
        originalCrc = crc32(0, original.data(), size_t(original.size()));
        modifiedCrc = crc32(0, modified.data(), size_t(modified.size()));
    });
    encoder.run();
    summing.join();
    char crcs[8];
    toLittleEndian(originalCrc, crcs);
    toLittleEndian(modifiedCrc, crcs + 4);
    out.bytes(crcs, 8);
    char own[4];
    const bool headerAndActions = out.flush();
    toLittleEndian(out.crc(), own);
    const std::int64_t size = out.size() + 4;
    if (!headerAndActions || !patch.write(own, 4) || !patch.finish(size) || !patch.commit()) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();
    result.records = encoder.actions;
    result.bytesWritten = modified.size();
    result.patchSize = size;
    return finish(CreateOutcome::Created);
}

} // namespace tarnic
