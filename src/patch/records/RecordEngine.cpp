#include "patch/records/RecordEngine.h"

#include "files/Crc32.h"
#include "files/SafeWrite.h"
#include "patch/ImageUpdate.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tarnic {

namespace {

// Nothing is written past 2^31 - 1, and no record starts past its format's
// last start. (IPS offsets cannot leave this range; IPS32 offsets can.)
bool recordFits(const RecordRules &rules, const PatchRecord &r) {
    return r.Offset >= 0 && r.Offset <= rules.lastStart &&
           r.Offset + r.writtenSize() - 1 <= kLastWritableOffset;
}

enum class StreamCheck { Complete, Invalid, ReadFailed };

struct StreamSummary {
    std::int64_t records = 0;
    std::int64_t bytesWritten = 0;
    std::int64_t end = 0; // one past the last byte any record writes
    std::optional<std::int64_t> truncation;
    PatchFault fault = PatchFault::None; // what made the stream Invalid
};

// Walks the record stream from the patch's current position to its end.
// Every record is checked; `apply`, when given, receives each checked record.
template <typename Apply>
StreamCheck walkReader(RecordStream &reader, const RecordRules &rules, StreamSummary &summary,
                       Apply &&apply) {
    PatchRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case RecordStream::Step::Record:
            if (!recordFits(rules, record)) {
                summary.fault = PatchFault::WritesOutOfRange;
                return StreamCheck::Invalid;
            }
            ++summary.records;
            summary.bytesWritten += record.writtenSize();
            if (record.writtenSize() > 0)
                summary.end =
                    std::max(summary.end, std::int64_t(record.Offset) + record.writtenSize());
            if (!apply(record))
                return StreamCheck::ReadFailed;
            break;
        case RecordStream::Step::End:
            return StreamCheck::Complete;
        case RecordStream::Step::Truncated:
            summary.fault = reader.fault();
            return StreamCheck::Invalid;
        case RecordStream::Step::ReadFailed:
            return StreamCheck::ReadFailed;
        }
    }
}

// The same with the reader the rules open; the length the patch sets for the
// result, when it sets one, goes to `summary.truncation`.
template <typename Apply>
StreamCheck walkRecords(Reader &patch, const RecordRules &rules, StreamSummary &summary,
                        Apply &&apply) {
    const std::unique_ptr<RecordStream> reader = rules.open(patch);
    if (!reader) {
        summary.fault = PatchFault::RecordsBroken;
        return StreamCheck::Invalid;
    }
    const StreamCheck check = walkReader(*reader, rules, summary, apply);
    summary.truncation = reader->resultLength();
    return check;
}

// Writes records into the new image in file order, joining records that follow
// each other into one write.
class RecordWriter {
  public:
    explicit RecordWriter(Writer &image) : image_(image) { pending_.reserve(kJoinLimit + 255); }

    bool write(const PatchRecord &r) {
        if (r.writtenSize() == 0)
            return true;
        if (pending_.empty() || r.Offset != start_ + std::int64_t(pending_.size()) ||
            pending_.size() >= kJoinLimit) {
            if (!flush())
                return false;
            start_ = r.Offset;
        }
        const size_t at = pending_.size();
        pending_.resize(at + size_t(r.writtenSize()));
        if (r.Length != 0)
            std::memcpy(pending_.data() + at, r.Data, r.Length);
        else
            std::memset(pending_.data() + at, r.RunValue, r.RunCount);
        return true;
    }

    bool flush() {
        const bool written = pending_.empty() ||
                             image_.writeAt(start_, pending_.data(), std::int64_t(pending_.size()));
        pending_.clear();
        return written;
    }

  private:
    static constexpr size_t kJoinLimit = 64 * 1024;
    Writer &image_;
    std::vector<char> pending_;
    std::int64_t start_ = 0;
};

// The checked records, kept in memory while they fit in a bounded budget, so
// that each piece of the image gets its records before it is written: one
// write a piece, however many records there are.
class HeldRecords {
  public:
    // Keeps `r`. Once the records no longer fit, all are dropped and the image
    // gets its records written one by one after the copy instead.
    void hold(const PatchRecord &r) {
        if (!fits_ || r.writtenSize() == 0)
            return;
        if ((entries_.size() + 1) * sizeof(Entry) + pool_.size() + r.Length > kBudget) {
            fits_ = false;
            entries_ = {};
            pool_ = {};
            return;
        }
        entries_.push_back(
            {r.Offset, r.writtenSize(), r.RunValue, r.Length == 0, std::uint32_t(pool_.size())});
        pool_.insert(pool_.end(), r.Data, r.Data + r.Length);
    }

    bool fit() const { return fits_; }

    // Sorts the records into the pieces of kCopyChunkSize bytes that they
    // write to, in file order within each piece.
    void sortIntoPieces(std::int64_t newLength) {
        byPiece_.assign(size_t((newLength + kCopyChunkSize - 1) / kCopyChunkSize), {});
        for (std::uint32_t i = 0; i < entries_.size(); ++i) {
            const Entry &e = entries_[i];
            // A record past a shorter result's end (IPS) is cut there.
            const std::int64_t end = std::min(e.offset + e.size, newLength);
            for (std::int64_t k = e.offset / kCopyChunkSize; k * kCopyChunkSize < end; ++k)
                byPiece_[size_t(k)].push_back(i);
        }
    }

    bool touches(std::int64_t piece) const { return !byPiece_[size_t(piece)].empty(); }

    // Writes the records that reach into piece number `piece` (`size` bytes
    // at `data`), later records over earlier ones.
    bool applyTo(std::int64_t piece, char *data, std::int64_t size) const {
        const std::int64_t start = piece * kCopyChunkSize;
        for (const std::uint32_t i : byPiece_[size_t(piece)]) {
            const Entry &e = entries_[i];
            const std::int64_t from = std::max(e.offset, start);
            const std::int64_t to = std::min(e.offset + e.size, start + size);
            if (from >= to)
                continue;
            if (e.run)
                std::memset(data + (from - start), e.runValue, size_t(to - from));
            else
                std::memcpy(data + (from - start), pool_.data() + e.data + (from - e.offset),
                            size_t(to - from));
        }
        return true;
    }

  private:
    static constexpr size_t kBudget = size_t(16) << 20;
    struct Entry {
        std::int64_t offset;
        int size;
        std::uint8_t runValue;
        bool run;
        std::uint32_t data; // where a copy record's bytes start in pool_
    };
    bool fits_ = true;
    std::vector<Entry> entries_;
    std::vector<char> pool_;
    std::vector<std::vector<std::uint32_t>> byPiece_;
};

// The records of a stream that comes in the order of their offsets and XORs
// its bytes onto the image's (UPS), read again alongside the pieces they reach
// into: only the record that runs on into the next piece is held.
class SortedXorRecords {
  public:
    explicit SortedXorRecords(std::unique_ptr<RecordStream> reader) : reader_(std::move(reader)) {}

    // Whether a record reaches into piece number `piece`; the next record is
    // read ahead for it (yes where the stream cannot be read, so that
    // applyTo() says so).
    bool touches(std::int64_t piece) {
        if (!readAhead())
            return true;
        return holding_ && heldAt_ < (piece + 1) * kCopyChunkSize;
    }

    // XORs the records that reach into piece number `piece` (`size` bytes at
    // `data`) onto it; false when the stream can no longer be read whole.
    bool applyTo(std::int64_t piece, char *data, std::int64_t size) {
        const std::int64_t start = piece * kCopyChunkSize;
        const std::int64_t end = start + size;
        for (;;) {
            if (!readAhead())
                return false;
            if (!holding_ || heldAt_ >= end)
                return true;
            const std::int64_t heldEnd = heldAt_ + std::int64_t(held_.size());
            for (std::int64_t at = std::max(heldAt_, start); at < std::min(heldEnd, end); ++at)
                data[at - start] = char(data[at - start] ^ held_[size_t(at - heldAt_)]);
            if (heldEnd > end)
                return true;
            holding_ = false;
        }
    }

    std::int64_t records() const { return records_; }

  private:
    // Holds the next record where none is held and the stream goes on;
    // false when the stream cannot be read whole.
    bool readAhead() {
        if (holding_ || ended_)
            return true;
        PatchRecord record;
        const RecordStream::Step step = reader_->next(record);
        if (step == RecordStream::Step::End) {
            ended_ = true;
            return true;
        }
        if (step != RecordStream::Step::Record)
            return false;
        ++records_;
        heldAt_ = record.Offset;
        held_.assign(record.Data, record.Data + record.Length);
        holding_ = true;
        return true;
    }

    std::unique_ptr<RecordStream> reader_;
    std::vector<char> held_;
    bool holding_ = false;
    bool ended_ = false;
    std::int64_t heldAt_ = 0;
    std::int64_t records_ = 0;
};

// Checks the record stream from the patch's current position to its end,
// handing each record to `held` when given.
PatchFileOutcome checkStream(Reader &patch, const RecordRules &rules, PatchFileCheck &check,
                             HeldRecords *held) {
    StreamSummary summary;
    const StreamCheck result = walkRecords(patch, rules, summary, [held](const PatchRecord &r) {
        if (held)
            held->hold(r);
        return true;
    });
    check.records = summary.records;
    check.bytesWritten = summary.bytesWritten;
    check.end = summary.end;
    check.truncation = summary.truncation;
    check.fault = summary.fault;
    switch (result) {
    case StreamCheck::Complete:
        return PatchFileOutcome::Valid;
    case StreamCheck::Invalid:
        return PatchFileOutcome::Invalid;
    case StreamCheck::ReadFailed:
        break;
    }
    return PatchFileOutcome::Unreadable;
}

// The CRC-32 of a whole piece of zeros.
std::uint32_t zeroPieceCrc() {
    static const std::uint32_t crc = [] {
        const std::vector<char> zeros(size_t(kCopyChunkSize), '\0');
        return crc32(0, zeros.data(), zeros.size());
    }();
    return crc;
}

// The image copied piece by piece, each piece with its records written in
// memory first. With a result check, each piece is put in the patch's byte
// order for its records, summed, and put back. Pieces past the old end that
// no record reaches are left out, so that the gap stays a hole that reads as
// zeros (summed as zeros where the result is checked: a result that claims
// more than its patch fills is refused at once, not after it was written).
template <typename Records>
bool copyWithRecords(Reader &image, std::int64_t oldLength, Records &records,
                     std::int64_t newLength, ResultCheck *check, Writer &patched) {
    std::vector<char> piece(kCopyChunkSize);
    for (std::int64_t k = 0; k * kCopyChunkSize < newLength; ++k) {
        const std::int64_t start = k * kCopyChunkSize;
        const std::int64_t size = std::min(kCopyChunkSize, newLength - start);
        const std::int64_t fromImage = std::clamp(oldLength - start, std::int64_t(0), size);
        // The last piece is always written, so that the file has its length
        // even where no record reaches it (an IPS patch that sets the length).
        if (fromImage == 0 && start + size < newLength && !records.touches(k)) {
            if (check)
                check->crc = crc32Combine(check->crc, zeroPieceCrc(), size);
            continue;
        }
        if (image.read(piece.data(), fromImage) != fromImage) {
            patched.fail(image.errorString());
            return false;
        }
        std::fill(piece.begin() + fromImage, piece.begin() + size, '\0');
        if (check)
            reorderBytes(piece.data(), size, check->stored, check->patchOrder);
        if (!records.applyTo(k, piece.data(), size)) {
            patched.fail(std::string("the patch changed while it was applied"));
            return false;
        }
        if (check) {
            check->crc = crc32(check->crc, piece.data(), size_t(size));
            reorderBytes(piece.data(), size, check->patchOrder, check->stored);
            // A result summed whole that is not the patch's is not finished.
            check->summed = start + size == newLength;
            if (check->summed && check->expectedCrc && check->crc != *check->expectedCrc) {
                patched.fail(std::string("the result's CRC-32 is not the patch's"));
                return false;
            }
        }
        if (!patched.writeAt(start, piece.data(), size))
            return false;
    }
    return true;
}

// The records written one by one after the whole image is copied, in file
// order, for patches whose records do not fit in memory.
bool copyThenWriteRecords(Reader &image, Reader &patch, const RecordRules &rules,
                          const PatchFileCheck &checked, bool reordered, Writer &patched) {
    if (checked.truncation) {
        patched.fail(std::string("an IPS patch that sets the result's length and holds more "
                                 "than 16 MiB of records is not applied"));
        return false;
    }
    if (reordered) {
        patched.fail(std::string("a patch that holds more than 16 MiB of records is applied "
                                 "only to an image in its own byte order; change the image's "
                                 "format first"));
        return false;
    }
    if (!copyStream(image, patched))
        return false;
    StreamSummary applied;
    RecordWriter writer(patched);
    return patch.seek(checked.recordsStart) &&
           walkRecords(patch, rules, applied,
                       [&](const PatchRecord &r) { return writer.write(r); }) ==
               StreamCheck::Complete &&
           writer.flush() && applied.records == checked.records &&
           applied.end == checked.end; // else the patch changed meanwhile
}

// The image with the records written into it, complete and flushed to disk,
// but not yet in the image's place. The result is the same as writing every
// record byte by byte into the image in file order; a record past the end
// leaves a gap that reads as zeros.
bool writePatchedImage(Reader &patch, const RecordRules &rules, const PatchFileCheck &checked,
                       HeldRecords &held, Reader &image, ResultCheck *check, Writer &patched) {
    const std::int64_t oldLength = image.size();
    const std::int64_t newLength = checked.truncation
                                       ? *checked.truncation
                                       : std::max({oldLength, checked.end, checked.growTo});
    if (rules.xorInOffsetOrder) {
        std::unique_ptr<RecordStream> stream = rules.open(patch);
        if (!stream) {
            patched.fail(std::string("the patch cannot be read"));
            return false;
        }
        SortedXorRecords records(std::move(stream));
        return copyWithRecords(image, oldLength, records, newLength, check, patched) &&
               records.records() == checked.records && patched.finish(newLength);
    }
    if (held.fit()) {
        held.sortIntoPieces(newLength);
        return copyWithRecords(image, oldLength, held, newLength, check, patched) &&
               patched.finish(newLength);
    }
    // A result that grows past its records ends in zeros: its last byte is
    // written so that the gap before it reads as zeros.
    const char zero = 0;
    return copyThenWriteRecords(image, patch, rules, checked, check != nullptr, patched) &&
           (newLength <= std::max(oldLength, checked.end) ||
            patched.writeAt(newLength - 1, &zero, 1)) &&
           patched.finish(newLength);
}

ApplyOutcome refusal(PatchFileOutcome outcome) {
    switch (outcome) {
    case PatchFileOutcome::Valid:
        break;
    case PatchFileOutcome::Unreadable:
        return ApplyOutcome::PatchUnreadable;
    case PatchFileOutcome::Truncated:
        return ApplyOutcome::PatchTruncated;
    case PatchFileOutcome::NotAnApsFile:
        return ApplyOutcome::NotAnApsFile;
    case PatchFileOutcome::UnsupportedEncoding:
        return ApplyOutcome::UnsupportedEncoding;
    case PatchFileOutcome::Invalid:
        return ApplyOutcome::InvalidPatch;
    }
    return ApplyOutcome::Applied;
}

} // namespace

PatchFileOutcome checkRecordStream(Reader &patch, const RecordRules &rules, PatchFileCheck &check) {
    return checkStream(patch, rules, check, nullptr);
}

PatchRead readOf(PatchFileOutcome outcome, PatchFault &fault) {
    switch (outcome) {
    case PatchFileOutcome::Valid:
        return PatchRead::Readable;
    case PatchFileOutcome::Unreadable:
        break;
    case PatchFileOutcome::Truncated:
        return PatchRead::CutShort;
    case PatchFileOutcome::NotAnApsFile:
        return PatchRead::NotAPatch;
    case PatchFileOutcome::UnsupportedEncoding:
        fault = PatchFault::OtherEncoding;
        return PatchRead::UnsupportedVersion;
    case PatchFileOutcome::Invalid:
        if (fault == PatchFault::None)
            fault = PatchFault::RecordsBroken;
        return PatchRead::Damaged;
    }
    return PatchRead::Unreadable;
}

PatchFileOutcome fileOutcomeOf(PatchRead read) {
    switch (read) {
    case PatchRead::Readable:
        return PatchFileOutcome::Valid;
    case PatchRead::Unreadable:
        break;
    case PatchRead::CutShort:
        return PatchFileOutcome::Truncated;
    case PatchRead::UnsupportedVersion:
        return PatchFileOutcome::UnsupportedEncoding;
    case PatchRead::NotAPatch:
    case PatchRead::Damaged:
        return PatchFileOutcome::NotAnApsFile;
    }
    return PatchFileOutcome::Unreadable;
}

PatchFileCheck checkRecordFile(const std::filesystem::path &patchPath, const RecordRules &rules,
                               const HeaderReader &readHeader) {
    PatchFileCheck check;
    FileReader patch;
    if (!patch.open(patchPath))
        return check;
    check.outcome = readHeader(patch, check);
    if (check.outcome == PatchFileOutcome::Valid)
        check.outcome = checkRecordStream(patch, rules, check);
    return check;
}

namespace {

// After the patch's header: the image checked, the whole record stream
// checked, then the result written to `place` and put there.
ApplyOutcome applyChecked(Reader &patch, Reader &image, ResultPlace &place,
                          const RecordRules &rules, const ImageCheck &checkImage,
                          PatchFileCheck &checked, ApplyResult &result) {
    std::optional<ResultCheck> check;
    if (checkImage) {
        if (const auto refused = checkImage(image, result, check))
            return *refused;
    }

    // Records in the order of their offsets need not be held: they are read
    // again alongside the pieces.
    HeldRecords held;
    if (const ApplyOutcome refused =
            refusal(checkStream(patch, rules, checked, rules.xorInOffsetOrder ? nullptr : &held));
        refused != ApplyOutcome::Applied) {
        result.fault = checked.fault;
        return refused == ApplyOutcome::InvalidPatch ? rules.invalid : refused;
    }
    result.records = checked.records;
    // A patch that XORs over the whole result writes all of it.
    result.bytesWritten =
        rules.xorInOffsetOrder ? checked.truncation.value_or(0) : checked.bytesWritten;

    if (const auto refused = place.startWriting())
        return *refused;
    const bool written = patch.seek(checked.recordsStart) &&
                         writePatchedImage(patch, rules, checked, held, image,
                                           check ? &*check : nullptr, place.writer());
    // A result that is not the patch's is not put in place.
    if (check && check->summed && check->expectedCrc && check->crc != *check->expectedCrc)
        return ApplyOutcome::ResultMismatch;
    return place.putInPlace(written, result);
}

} // namespace

ApplyResult applyRecords(const PatchJob &job, const RecordRules &rules,
                         const HeaderReader &readHeader, const ImageCheck &checkImage) {
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    FileReader patch;
    if (!patch.open(job.patchPath))
        return finish(ApplyOutcome::PatchUnreadable);
    PatchFileCheck checked;
    if (const ApplyOutcome refused = refusal(readHeader(patch, checked));
        refused != ApplyOutcome::Applied)
        return finish(refused);

    ImageUpdate update(job);
    if (const auto refused = update.lockImage(result))
        return finish(*refused);
    FileReader image;
    if (!image.open(job.imagePath)) {
        result.systemError = image.errorString();
        return finish(ApplyOutcome::WriteFailed);
    }
    return finish(applyChecked(patch, image, update, rules, checkImage, checked, result));
}

ApplyResult applyRecordsTo(Reader &patch, Reader &image, ResultPlace &place,
                           const RecordRules &rules, const HeaderReader &readHeader,
                           const ImageCheck &checkImage) {
    ApplyResult result;
    PatchFileCheck checked;
    if (!patch.seek(0))
        result.outcome = ApplyOutcome::PatchUnreadable;
    else if (const ApplyOutcome refused = refusal(readHeader(patch, checked));
             refused != ApplyOutcome::Applied)
        result.outcome = refused;
    else
        result.outcome = applyChecked(patch, image, place, rules, checkImage, checked, result);
    return result;
}

} // namespace tarnic
