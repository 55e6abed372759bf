#include "patch/PatchCreation.h"

#include "files/SafeWrite.h"
#include "patch/ApsFormat.h"
#include "patch/PatchApplication.h"
#include "rom/ImageHeader.h"

#include <QFile>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
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
constexpr qint64 kUnbridgeableGap = kMaxRecordLength - 1;
// Longer stretches of changes are planned in pieces of this size, which keeps
// memory flat; a split costs at most one record header.
constexpr qint64 kMaxStretch = qint64(1) << 18;

// Receives records in ascending order and writes them into the patch.
class RecordOutput {
  public:
    explicit RecordOutput(FileReplacement &patch) : patch_(patch) { buffer_.reserve(kBufferSize); }

    void copy(qint64 offset, const char *data, int length) {
        head(offset, std::uint8_t(length));
        buffer_.insert(buffer_.end(), data, data + length);
        bytesWritten += length;
        spill();
    }

    void run(qint64 offset, char value, int count) {
        head(offset, 0);
        buffer_.push_back(value);
        buffer_.push_back(char(count));
        bytesWritten += count;
        spill();
    }

    bool flush() {
        ok_ = ok_ && patch_.write(buffer_.data(), qint64(buffer_.size()));
        size += qint64(buffer_.size());
        buffer_.clear();
        return ok_;
    }

    qint64 records = 0;
    qint64 bytesWritten = 0;
    qint64 size = 0; // bytes handed to the patch so far

  private:
    static constexpr size_t kBufferSize = 1 << 16;

    void head(qint64 offset, std::uint8_t length) {
        for (int i = 0; i < 4; ++i)
            buffer_.push_back(char((std::uint64_t(offset) >> (8 * i)) & 0xFF));
        buffer_.push_back(char(length));
        ++records;
    }

    void spill() {
        if (buffer_.size() >= kBufferSize - 512)
            flush();
    }

    FileReplacement &patch_;
    std::vector<char> buffer_;
    bool ok_ = true;
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
    void unchanged(const char *data, qint64 size) {
        if (bytes_.empty() || qint64(gap_.size()) + size >= kUnbridgeableGap) {
            plan();
            gap_.clear();
            position_ += size;
            return;
        }
        gap_.insert(gap_.end(), data, data + size);
        position_ += size;
    }

    // The next `size` bytes of the modified image must be written.
    void changed(const char *data, qint64 size) {
        while (size > 0) {
            if (qint64(bytes_.size() + gap_.size()) >= kMaxStretch) {
                plan();
                gap_.clear();
            }
            if (bytes_.empty())
                start_ = position_;
            append(gap_.data(), qint64(gap_.size()), false);
            gap_.clear();
            const qint64 piece = std::min(size, kMaxStretch - qint64(bytes_.size()));
            append(data, piece, true);
            data += piece;
            size -= piece;
            position_ += piece;
        }
    }

    void finish() { plan(); }

  private:
    enum class Choice : std::uint8_t { Skip, Copy, Run };

    void append(const char *data, qint64 size, bool must) {
        bytes_.insert(bytes_.end(), data, data + size);
        must_.insert(must_.end(), size_t(size), must);
    }

    // Plans the stretch held (which ends with a byte that must be written),
    // hands its records to the output and forgets it.
    void plan() {
        const qint64 n = qint64(bytes_.size());
        if (n == 0)
            return;
        constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max() / 2;
        cost_.assign(size_t(n + 1), kNone);
        choice_.resize(size_t(n + 1));
        from_.resize(size_t(n + 1));
        cost_[0] = 0;

        // Window minima over the last 255 starts: cost[j] - j for copies, and
        // cost[j] among starts inside the current stretch of equal bytes for runs.
        std::deque<qint64> copyStarts;
        std::deque<qint64> runStarts;
        for (qint64 i = 0; i < n; ++i) {
            if (i > 0 && bytes_[size_t(i)] != bytes_[size_t(i - 1)])
                runStarts.clear();
            const auto pushStart = [&](std::deque<qint64> &starts, auto key) {
                while (!starts.empty() && key(starts.back()) >= key(i))
                    starts.pop_back();
                starts.push_back(i);
                while (starts.front() < i + 1 - kMaxRecordLength)
                    starts.pop_front();
            };
            pushStart(copyStarts, [&](qint64 j) { return cost_[size_t(j)] - j; });
            pushStart(runStarts, [&](qint64 j) { return cost_[size_t(j)]; });

            std::int64_t best = kNone;
            Choice how = Choice::Skip;
            qint64 start = i;
            if (!must_[size_t(i)])
                best = cost_[size_t(i)];
            const qint64 c = copyStarts.front();
            if (const std::int64_t viaCopy = cost_[size_t(c)] + (i + 1 - c) + kCopyOverhead;
                viaCopy < best) {
                best = viaCopy;
                how = Choice::Copy;
                start = c;
            }
            const qint64 r = runStarts.front();
            if (const std::int64_t viaRun = cost_[size_t(r)] + kRunSize; viaRun < best) {
                best = viaRun;
                how = Choice::Run;
                start = r;
            }
            cost_[size_t(i + 1)] = best;
            choice_[size_t(i + 1)] = how;
            from_[size_t(i + 1)] = std::uint32_t(start);
        }

        // Back from the end to the records, then out in ascending order.
        records_.clear();
        for (qint64 end = n; end > 0;) {
            const Choice how = choice_[size_t(end)];
            const qint64 start = how == Choice::Skip ? end - 1 : qint64(from_[size_t(end)]);
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
        bytes_.clear();
        must_.clear();
    }

    struct PlannedRecord {
        qint64 start;
        qint64 end;
        Choice how;
    };

    RecordOutput &output_;
    qint64 position_ = 0;     // image offset of the next byte handed in
    qint64 start_ = 0;        // image offset of bytes_[0]
    std::vector<char> bytes_; // the stretch being planned
    std::vector<bool> must_;
    std::vector<char> gap_; // unchanged bytes after the stretch, while still bridgeable
    std::vector<std::int64_t> cost_;
    std::vector<Choice> choice_;
    std::vector<std::uint32_t> from_;
    std::vector<PlannedRecord> records_;
};

// How many leading bytes of `a` and `b` are equal.
qint64 equalPrefix(const char *a, const char *b, qint64 size) {
    qint64 i = 0;
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

qint64 unequalPrefix(const char *a, const char *b, qint64 size) {
    qint64 i = 0;
    while (i < size && a[i] != b[i])
        ++i;
    return i;
}

// Hands one piece of the modified image to the planner, each byte compared
// with what the patched original would hold there.
void comparePiece(RecordPlanner &planner, const char *modified, const char *base, qint64 size) {
    for (qint64 at = 0; at < size;) {
        const qint64 same = equalPrefix(modified + at, base + at, size - at);
        if (same > 0)
            planner.unchanged(modified + at, same);
        at += same;
        const qint64 different = unequalPrefix(modified + at, base + at, size - at);
        if (different > 0)
            planner.changed(modified + at, different);
        at += different;
    }
}

QByteArray headerFor(const ImageInspection &original, const QByteArray &description,
                     qint64 modifiedSize) {
    const ImageHeader &h = original.header;
    QByteArray header(kApsMagic);
    header += char(kN64PatchType);
    header += '\0'; // encoding
    header += description.leftJustified(kDescriptionSize, ' ');
    header += char(original.order);
    header += h.CartId.toLatin1();
    header += char(h.CountryCode);
    for (const CrcBytes &crc :
         {toCartridgeOrder(h.Crc1, original.order), toCartridgeOrder(h.Crc2, original.order)}) {
        for (const std::uint8_t byte : crc)
            header += char(byte);
    }
    header += QByteArray(5, '\0');
    for (int i = 0; i < 4; ++i)
        header += char((std::uint64_t(modifiedSize) >> (8 * i)) & 0xFF);
    return header;
}

} // namespace

CreateResult createPatch(const CreateJob &job) {
    CreateResult result;
    const auto finish = [&](CreateOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    const QByteArray description = job.description.toLatin1();
    if (job.description.size() > kDescriptionSize ||
        QString::fromLatin1(description) != job.description)
        return finish(CreateOutcome::DescriptionTooLong);
    if (sameFile(job.patchPath, job.originalPath) || sameFile(job.patchPath, job.modifiedPath))
        return finish(CreateOutcome::PatchIsAnInput);

    QFile original;
    QFile modified;
    if (!openRegularFile(original, job.originalPath))
        return finish(CreateOutcome::OriginalUnreadable);
    if (!openRegularFile(modified, job.modifiedPath))
        return finish(CreateOutcome::ModifiedUnreadable);
    const ImageInspection originalHeader = inspectImage(job.originalPath);
    if (originalHeader.outcome == ImageReadOutcome::CannotOpen)
        return finish(CreateOutcome::OriginalUnreadable);
    if (originalHeader.outcome != ImageReadOutcome::Shown)
        return finish(CreateOutcome::OriginalNotAnImage);
    const qint64 originalSize = original.size();
    const qint64 modifiedSize = modified.size();
    if (modifiedSize < originalSize)
        return finish(CreateOutcome::ModifiedShorter);
    if (modifiedSize > kLastWritableOffset + 1)
        return finish(CreateOutcome::ModifiedTooLarge);

    FileReplacement patch(job.patchPath);
    const QByteArray header = headerFor(originalHeader, description, modifiedSize);
    if (!patch.open() || !patch.write(header))
        return finish(CreateOutcome::WriteFailed);

    RecordOutput output(patch);
    RecordPlanner planner(output);
    std::vector<char> was(kCopyChunkSize);
    std::vector<char> now(kCopyChunkSize);
    for (qint64 at = 0; at < modifiedSize;) {
        const qint64 got = std::min(kCopyChunkSize, modifiedSize - at);
        const qint64 gotOriginal = std::clamp(originalSize - at, qint64(0), got);
        if (readFully(modified, now.data(), got) != got)
            return finish(CreateOutcome::ModifiedUnreadable);
        if (readFully(original, was.data(), gotOriginal) != gotOriginal)
            return finish(CreateOutcome::OriginalUnreadable);
        // Past the original's end a byte that no record writes reads as zero
        // (a gap before a later record); the last byte is always written.
        std::fill(was.begin() + gotOriginal, was.begin() + got, '\0');
        const bool lastPiece = at + got == modifiedSize;
        const bool grows = modifiedSize > originalSize;
        const qint64 compared = lastPiece && grows ? got - 1 : got;
        comparePiece(planner, now.data(), was.data(), compared);
        if (compared < got)
            planner.changed(now.data() + compared, 1);
        at += got;
    }
    planner.finish();
    if (!output.flush() || !patch.finish(header.size() + output.size) || !patch.commit())
        return finish(CreateOutcome::WriteFailed);
    result.records = output.records;
    result.bytesWritten = output.bytesWritten;
    result.patchSize = header.size() + output.size;
    return finish(CreateOutcome::Created);
}

} // namespace tarnic
