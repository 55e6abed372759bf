#include "patch/aps/ApsFormat.h"

#include "files/SafeWrite.h"
#include "rom/ImageHeader.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tarnic {

namespace {

constexpr int kMaxRecordLength = 255;
constexpr int kCopyOverhead = 5; // offset and length
constexpr int kRunSize = 7;      // offset, 0, value, count
// A record reaches from one byte that must be written to another at most 254
// bytes further on, so changes this far apart never share a record and are
// planned apart.
constexpr std::int64_t kUnbridgeableGap = kMaxRecordLength - 1;
// Longer stretches of changes are planned in pieces of this size, which keeps
// memory flat; a split costs at most one record header.
constexpr std::int64_t kMaxStretch = std::int64_t(1) << 18;

// Receives records in ascending order and writes them into the patch.
class RecordOutput {
  public:
    explicit RecordOutput(Writer &patch) : patch_(patch) { buffer_.reserve(kBufferSize); }

    void copy(std::int64_t offset, const char *data, int length) {
        head(offset, std::uint8_t(length));
        buffer_.insert(buffer_.end(), data, data + length);
        bytesWritten += length;
        spill();
    }

    void run(std::int64_t offset, char value, int count) {
        head(offset, 0);
        buffer_.push_back(value);
        buffer_.push_back(char(count));
        bytesWritten += count;
        spill();
    }

    bool flush() {
        ok_ = ok_ && patch_.write(buffer_.data(), std::int64_t(buffer_.size()));
        size += std::int64_t(buffer_.size());
        buffer_.clear();
        return ok_;
    }

    std::int64_t records = 0;
    std::int64_t bytesWritten = 0;
    std::int64_t size = 0; // bytes handed to the patch so far

  private:
    static constexpr size_t kBufferSize = 1 << 16;

    void head(std::int64_t offset, std::uint8_t length) {
        char bytes[5];
        toLittleEndian(std::int32_t(offset), bytes);
        bytes[4] = char(length);
        buffer_.insert(buffer_.end(), bytes, bytes + sizeof bytes);
        ++records;
    }

    void spill() {
        if (buffer_.size() >= kBufferSize - 512)
            flush();
    }

    Writer &patch_;
    std::vector<char> buffer_;
    bool ok_ = true;
};

// The smallest key among the starts pushed in the last 255 positions, kept
// as a queue of starts with rising keys in a ring of fixed size.
class WindowMinimum {
  public:
    void clear() { head_ = tail_ = 0; }

    void push(std::int64_t where, std::int64_t key) {
        while (tail_ != head_ && ring_[(tail_ - 1) & kMask].key >= key)
            --tail_;
        ring_[tail_++ & kMask] = {where, key};
    }

    void dropBefore(std::int64_t first) {
        while (ring_[head_ & kMask].where < first)
            ++head_;
    }

    std::int64_t minimum() const { return ring_[head_ & kMask].key; }
    std::int64_t where() const { return ring_[head_ & kMask].where; }

  private:
    static constexpr std::size_t kMask = 255; // the window never holds more than 255
    struct Entry {
        std::int64_t where;
        std::int64_t key;
    };
    std::array<Entry, kMask + 1> ring_; // entries from head_ to tail_ are set
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
};

// Chooses the smallest set of records for a stream of image bytes, each of
// which either must be written (it differs from what the original leaves
// there) or may be (it is the same). Changes close together are planned
// together by dynamic programming over every byte between them: a copy record
// costs 5 bytes plus its data, a run of equal bytes 7, and a byte that needs
// no writing costs nothing unless a record covers it.
class RecordPlanner {
  public:
    explicit RecordPlanner(RecordOutput &output) : output_(output) {}

    // The next `size` bytes of the modified image need no writing.
    void unchanged(const char *data, std::int64_t size) {
        if (bytes_.empty() || std::int64_t(gap_.size()) + size >= kUnbridgeableGap) {
            plan();
            gap_.clear();
            position_ += size;
            return;
        }
        gap_.insert(gap_.end(), data, data + size);
        position_ += size;
    }

    // The next `size` bytes of the modified image must be written.
    void changed(const char *data, std::int64_t size) {
        while (size > 0) {
            if (std::int64_t(bytes_.size() + gap_.size()) >= kMaxStretch) {
                plan();
                gap_.clear();
            }
            if (bytes_.empty())
                start_ = position_;
            append(gap_.data(), std::int64_t(gap_.size()), false);
            gap_.clear();
            const std::int64_t piece = std::min(size, kMaxStretch - std::int64_t(bytes_.size()));
            append(data, piece, true);
            data += piece;
            size -= piece;
            position_ += piece;
        }
    }

    void finish() { plan(); }

  private:
    enum class Choice : std::uint8_t { Skip, Copy, Run };

    void append(const char *data, std::int64_t size, bool must) {
        bytes_.insert(bytes_.end(), data, data + size);
        must_.insert(must_.end(), size_t(size), std::uint8_t(must));
    }

    // Plans the stretch held (which ends with a byte that must be written),
    // hands its records to the output and forgets it.
    void plan() {
        const std::int64_t n = std::int64_t(bytes_.size());
        if (n == 0)
            return;
        if (!planShortWithoutRuns())
            planByCost();
        bytes_.clear();
        must_.clear();
    }

    // The common case, planned directly: a stretch that one record could cover
    // and that holds no three equal bytes in a row. Runs of one or two bytes
    // cost no less than a copy, so only copies count; a copy covers any part
    // of the stretch, so each gap of unchanged bytes is covered when that costs
    // less than starting a new copy.
    bool planShortWithoutRuns() {
        const std::int64_t n = std::int64_t(bytes_.size());
        if (n > kMaxRecordLength)
            return false;
        for (std::int64_t i = 2; i < n; ++i) {
            if (bytes_[size_t(i)] == bytes_[size_t(i - 1)] &&
                bytes_[size_t(i)] == bytes_[size_t(i - 2)])
                return false;
        }
        std::int64_t start = 0; // of the current copy
        for (std::int64_t i = 0; i < n;) {
            std::int64_t gapEnd = i;
            while (gapEnd < n && !must_[size_t(gapEnd)])
                ++gapEnd;
            if (gapEnd - i >= kCopyOverhead) {
                output_.copy(start_ + start, bytes_.data() + start, int(i - start));
                start = gapEnd;
            }
            i = gapEnd;
            while (i < n && must_[size_t(i)])
                ++i;
        }
        output_.copy(start_ + start, bytes_.data() + start, int(n - start));
        return true;
    }

    // Any stretch, by dynamic programming over its bytes.
    void planByCost() {
        const std::int64_t n = std::int64_t(bytes_.size());
        constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max() / 2;
        cost_.resize(size_t(n + 1));
        choice_.resize(size_t(n + 1));
        from_.resize(size_t(n + 1));
        cost_[0] = 0;

        // Window minima over the last 255 starts: cost[j] - j for copies, and
        // cost[j] among starts inside the current stretch of equal bytes for runs.
        WindowMinimum &copyStarts = copyStarts_;
        WindowMinimum &runStarts = runStarts_;
        copyStarts.clear();
        std::int64_t reached = 0;   // the cost up to byte i
        std::int64_t equalFrom = 0; // where the stretch of bytes equal to byte i starts
        for (std::int64_t i = 0; i < n; ++i) {
            copyStarts.push(i, reached - i);
            copyStarts.dropBefore(i + 1 - kMaxRecordLength);
            std::int64_t best = must_[size_t(i)] ? kNone : reached;
            Choice how = Choice::Skip;
            std::int64_t start = i;
            if (const std::int64_t viaCopy = copyStarts.minimum() + (i + 1) + kCopyOverhead;
                viaCopy < best) {
                best = viaCopy;
                how = Choice::Copy;
                start = copyStarts.where();
            }

            // A run of one or two bytes costs no less than a copy from the same
            // start, so runs are weighed only from three equal bytes on.
            if (i > 0 && bytes_[size_t(i)] != bytes_[size_t(i - 1)])
                equalFrom = i;
            if (i - equalFrom >= 2) {
                if (i - equalFrom == 2) {
                    runStarts.clear();
                    runStarts.push(equalFrom, cost_[size_t(equalFrom)]);
                    runStarts.push(equalFrom + 1, cost_[size_t(equalFrom + 1)]);
                }
                runStarts.push(i, reached);
                runStarts.dropBefore(i + 1 - kMaxRecordLength);
                if (const std::int64_t viaRun = runStarts.minimum() + kRunSize; viaRun < best) {
                    best = viaRun;
                    how = Choice::Run;
                    start = runStarts.where();
                }
            }
            reached = best;
            cost_[size_t(i + 1)] = best;
            choice_[size_t(i + 1)] = how;
            from_[size_t(i + 1)] = std::uint32_t(start);
        }

        // Back from the end to the records, then out in ascending order.
        records_.clear();
        for (std::int64_t end = n; end > 0;) {
            const Choice how = choice_[size_t(end)];
            const std::int64_t start =
                how == Choice::Skip ? end - 1 : std::int64_t(from_[size_t(end)]);
            if (how != Choice::Skip)
                records_.push_back({start, end, how});
            end = start;
        }
        for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
            const int length = int(it->end - it->start);
            if (it->how == Choice::Run)
                output_.run(start_ + it->start, bytes_[size_t(it->start)], length);
            else
                output_.copy(start_ + it->start, bytes_.data() + it->start, length);
        }
    }

    struct PlannedRecord {
        std::int64_t start;
        std::int64_t end;
        Choice how;
    };

    RecordOutput &output_;
    std::int64_t position_ = 0; // image offset of the next byte handed in
    std::int64_t start_ = 0;    // image offset of bytes_[0]
    std::vector<char> bytes_;   // the stretch being planned
    std::vector<std::uint8_t> must_;
    std::vector<char> gap_; // unchanged bytes after the stretch, while still bridgeable
    std::vector<std::int64_t> cost_;
    std::vector<Choice> choice_;
    std::vector<std::uint32_t> from_;
    std::vector<PlannedRecord> records_;
    WindowMinimum copyStarts_;
    WindowMinimum runStarts_;
};

// How many leading bytes of `a` and `b` are equal.
std::int64_t equalPrefix(const char *a, const char *b, std::int64_t size) {
    // Whole blocks first (memcmp is vectorised), then words, then bytes.
    std::int64_t i = 0;
    for (const std::int64_t block : {std::int64_t(16384), std::int64_t(256)}) {
        while (i + block <= size && std::memcmp(a + i, b + i, size_t(block)) == 0)
            i += block;
    }
    for (; i + 8 <= size; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            break;
    }
    while (i < size && a[i] == b[i])
        ++i;
    return i;
}

std::int64_t unequalPrefix(const char *a, const char *b, std::int64_t size) {
    std::int64_t i = 0;
    while (i < size && a[i] != b[i])
        ++i;
    return i;
}

// Hands one piece of the modified image to the planner, each byte compared
// with what the patched original would hold there.
void comparePiece(RecordPlanner &planner, const char *modified, const char *base,
                  std::int64_t size) {
    for (std::int64_t at = 0; at < size;) {
        const std::int64_t same = equalPrefix(modified + at, base + at, size - at);
        if (same > 0)
            planner.unchanged(modified + at, same);
        at += same;
        const std::int64_t different = unequalPrefix(modified + at, base + at, size - at);
        if (different > 0)
            planner.changed(modified + at, different);
        at += different;
    }
}

// Pieces of a file, mapped into memory where the system allows (no copy is
// made of what is already in the page cache), read otherwise.
class MappedPieces {
  public:
    explicit MappedPieces(Reader &file) : file_(file) {}

    // `size` bytes from `offset`, valid until the next call; null when they
    // cannot be read.
    const char *piece(std::int64_t offset, std::int64_t size) {
        if (const char *mapped = file_.map(offset, size))
            return mapped;
        buffer_.resize(size_t(size));
        return file_.readAt(offset, buffer_.data(), size) == size ? buffer_.data() : nullptr;
    }

  private:
    Reader &file_;
    std::vector<char> buffer_;
};

// Images are compared in pieces of this size, so memory use stays flat.
constexpr std::int64_t kComparedPieceSize = 4 << 20;
const std::array<char, 1 << 16> kZeros{};

std::string headerFor(const ImageInspection &original, const std::string &description,
                      std::int64_t modifiedSize) {
    const ImageHeader &h = original.header;
    std::string header(kApsMagic);
    header += char(kN64PatchType);
    header += '\0'; // encoding
    header += description;
    header.append(kDescriptionSize - std::min<size_t>(description.size(), kDescriptionSize), ' ');
    header += char(original.order);
    header += utf8ToLatin1(h.CartId).value_or(h.CartIdRaw);
    header += char(h.CountryCode);
    for (const CrcBytes &crc :
         {toCartridgeOrder(h.Crc1, original.order), toCartridgeOrder(h.Crc2, original.order)}) {
        for (const std::uint8_t byte : crc)
            header += char(byte);
    }
    header += std::string(5, '\0');
    char size[4];
    toLittleEndian(std::uint32_t(modifiedSize), size);
    header.append(size, sizeof size);
    return header;
}

} // namespace

CreateResult createApsPatch(const CreateJob &job) {
    CreateResult result;
    const auto finish = [&](CreateOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    // The description is Latin-1 in the patch, one byte a character.
    const std::optional<std::string> description = utf8ToLatin1(job.description);
    if (!description || description->size() > size_t(kDescriptionSize))
        return finish(CreateOutcome::DescriptionTooLong);
    if (const auto refused = refusedPatchPath(job, result))
        return finish(*refused);

    FileReader original;
    FileReader modified;
    if (!original.open(job.originalPath))
        return finish(CreateOutcome::OriginalUnreadable);
    if (!modified.open(job.modifiedPath))
        return finish(CreateOutcome::ModifiedUnreadable);
    const ImageInspection originalHeader = inspectImage(job.originalPath);
    if (originalHeader.outcome == ImageReadOutcome::CannotOpen)
        return finish(CreateOutcome::OriginalUnreadable);
    // An APS patch names one of the copiers' two byte orders.
    if (originalHeader.outcome != ImageReadOutcome::Shown ||
        originalHeader.order == ByteOrder::LittleEndian)
        return finish(CreateOutcome::OriginalNotAnImage);
    const std::int64_t originalSize = original.size();
    const std::int64_t modifiedSize = modified.size();
    if (modifiedSize < originalSize)
        return finish(CreateOutcome::ModifiedShorter);
    if (modifiedSize > kLastWritableOffset + 1)
        return finish(CreateOutcome::ModifiedTooLarge);

    FileReplacement patch(job.patchPath);
    const std::string header = headerFor(originalHeader, *description, modifiedSize);
    if (!patch.open() || !patch.write(header)) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();

    RecordOutput output(patch);
    RecordPlanner planner(output);
    MappedPieces originalPieces(original);
    MappedPieces modifiedPieces(modified);
    for (std::int64_t at = 0; at < modifiedSize;) {
        const std::int64_t size = std::min(kComparedPieceSize, modifiedSize - at);
        const std::int64_t fromOriginal = std::clamp(originalSize - at, std::int64_t(0), size);
        const char *now = modifiedPieces.piece(at, size);
        const char *was = fromOriginal > 0 ? originalPieces.piece(at, fromOriginal) : nullptr;
        if (!now)
            return finish(CreateOutcome::ModifiedUnreadable);
        if (fromOriginal > 0 && !was)
            return finish(CreateOutcome::OriginalUnreadable);
        // The last byte of a lengthened image is always written.
        const bool last = at + size == modifiedSize;
        const std::int64_t compared = last && modifiedSize > originalSize ? size - 1 : size;
        comparePiece(planner, now, was, std::min(compared, fromOriginal));
        // Past the original's end a byte that no record writes reads as zero
        // (a gap before a later record).
        for (std::int64_t k = fromOriginal; k < compared; k += std::int64_t(kZeros.size()))
            comparePiece(planner, now + k, kZeros.data(),
                         std::min(compared - k, std::int64_t(kZeros.size())));
        if (compared < size)
            planner.changed(now + compared, 1);
        at += size;
    }
    planner.finish();
    if (!output.flush() || !patch.finish(header.size() + output.size) || !patch.commit()) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();
    result.records = output.records;
    result.bytesWritten = output.bytesWritten;
    result.patchSize = header.size() + output.size;
    return finish(CreateOutcome::Created);
}

} // namespace tarnic
