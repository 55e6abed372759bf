#include "patch/PatchApplication.h"

#include "files/SafeWrite.h"
#include "patch/ApsFormat.h"
#include "patch/ImageUpdate.h"
#include "patch/IpsFormat.h"
#include "patch/PpfFormat.h"
#include "patch/ReorderedImage.h"
#include "patch/Ups.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tarnic {

namespace {

// The formats whose records write bytes at offsets, read by one engine. UPS
// records XOR their bytes onto the image's, and come in the order of their
// offsets.
enum class RecordFormat { Aps, Ips, Ips32, Ppf, Ups };

// Nothing is written past 2^31 - 1, and APS offsets run from 0 to 2^31 - 2.
// (IPS offsets cannot leave this range; IPS32 offsets can.)
bool recordFits(RecordFormat format, const PatchRecord &r) {
    return r.Offset >= 0 && (format != RecordFormat::Aps || r.Offset < kLastWritableOffset) &&
           r.Offset + r.writtenSize() - 1 <= kLastWritableOffset;
}

enum class StreamCheck { Complete, Invalid, ReadFailed };

struct StreamSummary {
    qint64 records = 0;
    qint64 bytesWritten = 0;
    qint64 end = 0; // one past the last byte any record writes
    std::optional<qint64> truncation;
};

// Walks the record stream from the patch's current position to its end.
// Every record is checked; `apply`, when given, receives each checked record.
template <typename Reader, typename Apply>
StreamCheck walkReader(Reader &reader, RecordFormat format, StreamSummary &summary, Apply &&apply) {
    PatchRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case PatchRecordReader::Step::Record:
            if (!recordFits(format, record))
                return StreamCheck::Invalid;
            ++summary.records;
            summary.bytesWritten += record.writtenSize();
            if (record.writtenSize() > 0)
                summary.end = std::max(summary.end, qint64(record.Offset) + record.writtenSize());
            if (!apply(record))
                return StreamCheck::ReadFailed;
            break;
        case PatchRecordReader::Step::End:
            return StreamCheck::Complete;
        case PatchRecordReader::Step::Truncated:
            return StreamCheck::Invalid;
        case PatchRecordReader::Step::ReadFailed:
            return StreamCheck::ReadFailed;
        }
    }
}

// The same with the reader of `format`; an IPS patch's length for the result,
// when it gives one, goes to `summary.truncation`.
template <typename Apply>
StreamCheck walkRecords(QIODevice &patch, RecordFormat format, StreamSummary &summary,
                        Apply &&apply) {
    if (format == RecordFormat::Aps) {
        PatchRecordReader reader(patch);
        return walkReader(reader, format, summary, apply);
    }
    if (format == RecordFormat::Ppf) {
        const qint64 start = patch.pos();
        const PpfLayout layout = readPpfLayout(patch);
        if (layout.version == 0 || !patch.seek(start))
            return StreamCheck::Invalid;
        PpfRecordReader reader(patch, layout);
        return walkReader(reader, format, summary, apply);
    }
    if (format == RecordFormat::Ups) {
        const qint64 start = patch.pos();
        const std::optional<UpsHeader> header = readUpsHeader(patch);
        if (!header || !patch.seek(start))
            return StreamCheck::Invalid;
        UpsRecordReader reader(patch, *header);
        summary.truncation = qint64(header->outputSize);
        return walkReader(reader, format, summary, apply);
    }
    IpsRecordReader reader(patch, format == RecordFormat::Ips32);
    const StreamCheck check = walkReader(reader, format, summary, apply);
    summary.truncation = reader.truncation();
    return check;
}

// Writes records into the new image in file order, joining records that follow
// each other into one write.
class RecordWriter {
  public:
    explicit RecordWriter(FileReplacement &image) : image_(image) {
        pending_.reserve(kJoinLimit + 255);
    }

    bool write(const PatchRecord &r) {
        if (r.writtenSize() == 0)
            return true;
        if (pending_.empty() || r.Offset != start_ + qint64(pending_.size()) ||
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
        const bool written =
            pending_.empty() || image_.writeAt(start_, pending_.data(), qint64(pending_.size()));
        pending_.clear();
        return written;
    }

  private:
    static constexpr size_t kJoinLimit = 64 * 1024;
    FileReplacement &image_;
    std::vector<char> pending_;
    qint64 start_ = 0;
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
    void sortIntoPieces(qint64 newLength) {
        byPiece_.assign(size_t((newLength + kCopyChunkSize - 1) / kCopyChunkSize), {});
        for (std::uint32_t i = 0; i < entries_.size(); ++i) {
            const Entry &e = entries_[i];
            // A record past a shorter result's end (IPS) is cut there.
            const qint64 end = std::min(e.offset + e.size, newLength);
            for (qint64 k = e.offset / kCopyChunkSize; k * kCopyChunkSize < end; ++k)
                byPiece_[size_t(k)].push_back(i);
        }
    }

    bool touches(qint64 piece) const { return !byPiece_[size_t(piece)].empty(); }

    // Writes the records that reach into piece number `piece` (`size` bytes
    // at `data`), later records over earlier ones.
    bool applyTo(qint64 piece, char *data, qint64 size) const {
        const qint64 start = piece * kCopyChunkSize;
        for (const std::uint32_t i : byPiece_[size_t(piece)]) {
            const Entry &e = entries_[i];
            const qint64 from = std::max(e.offset, start);
            const qint64 to = std::min(e.offset + e.size, start + size);
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
        qint64 offset;
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
    SortedXorRecords(QIODevice &patch, const UpsHeader &header) : reader_(patch, header) {}

    bool touches(qint64) const { return true; }

    // XORs the records that reach into piece number `piece` (`size` bytes at
    // `data`) onto it; false when the stream can no longer be read whole.
    bool applyTo(qint64 piece, char *data, qint64 size) {
        const qint64 start = piece * kCopyChunkSize;
        const qint64 end = start + size;
        for (;;) {
            if (held_.empty()) {
                PatchRecord record;
                const PatchRecordReader::Step step = reader_.next(record);
                if (step == PatchRecordReader::Step::End)
                    return true;
                if (step != PatchRecordReader::Step::Record)
                    return false;
                ++records_;
                heldAt_ = record.Offset;
                held_.assign(record.Data, record.Data + record.Length);
            }
            if (heldAt_ >= end)
                return true;
            const qint64 heldEnd = heldAt_ + qint64(held_.size());
            for (qint64 at = std::max(heldAt_, start); at < std::min(heldEnd, end); ++at)
                data[at - start] = char(data[at - start] ^ held_[size_t(at - heldAt_)]);
            if (heldEnd > end)
                return true;
            held_.clear();
        }
    }

    qint64 records() const { return records_; }

  private:
    UpsRecordReader reader_;
    std::vector<char> held_;
    qint64 heldAt_ = 0;
    qint64 records_ = 0;
};

// For a patch whose records are in another byte order than the image (UPS
// read in the order the image is its input in, an APS patch made for the
// image in another order): the order the patch works in and the order the
// image is stored in; with `expectedCrc`, the result's CRC-32 as the patch
// names it, which the result must have (in the patch's order).
struct ResultCheck {
    ByteOrder stored;
    ByteOrder patchOrder;
    std::optional<std::uint32_t> expectedCrc;
    std::uint32_t crc = 0;
};

// Reads and checks the header from the start of `patch`, leaving the file at
// the record stream.
PatchFileOutcome readHeader(QFile &patch, PatchFileCheck &check) {
    char head[kApsHeaderSize];
    constexpr qint64 kFixedPart = kMagicSize + 2; // magic, type, encoding
    const qint64 got = readFully(patch, head, kFixedPart);
    if (got < 0)
        return PatchFileOutcome::Unreadable;
    if (got < kMagicSize || std::memcmp(head, kApsMagic, kMagicSize) != 0)
        return PatchFileOutcome::NotAnApsFile;
    if (got < kFixedPart)
        return PatchFileOutcome::Truncated;
    if (head[6] != 0)
        return PatchFileOutcome::UnsupportedEncoding;
    check.patchType = std::uint8_t(head[5]);
    check.recordsStart = recordStreamStart(check.patchType);
    const qint64 rest = recordStreamStart(check.patchType) - kFixedPart;
    const qint64 restGot = readFully(patch, head + kFixedPart, rest);
    if (restGot < 0)
        return PatchFileOutcome::Unreadable;
    if (restGot < rest)
        return PatchFileOutcome::Truncated;
    check.declaredImageSize = qFromLittleEndian<quint32>(head + imageSizeOffset(check.patchType));
    if (check.patchType != kSimplePatchType)
        check.targetFormat = std::uint8_t(head[57]);
    return PatchFileOutcome::Valid;
}

// Checks the record stream from the patch's current position to its end,
// handing each record to `held` when given.
PatchFileOutcome checkRecordStream(QFile &patch, RecordFormat format, PatchFileCheck &check,
                                   HeldRecords *held = nullptr) {
    StreamSummary summary;
    const StreamCheck result = walkRecords(patch, format, summary, [held](const PatchRecord &r) {
        if (held)
            held->hold(r);
        return true;
    });
    check.records = summary.records;
    check.bytesWritten = summary.bytesWritten;
    check.end = summary.end;
    check.truncation = summary.truncation;
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

// The image copied piece by piece, each piece with its records written in
// memory first. With a result check, each piece is put in the patch's byte
// order for its records, summed, and put back. Otherwise pieces past the old
// end that no record reaches are left out, so that the gap stays a hole that
// reads as zeros.
template <typename Records>
bool copyWithRecords(QFile &image, qint64 oldLength, Records &records, qint64 newLength,
                     ResultCheck *check, FileReplacement &patched) {
    std::vector<char> piece(kCopyChunkSize);
    for (qint64 k = 0; k * kCopyChunkSize < newLength; ++k) {
        const qint64 start = k * kCopyChunkSize;
        const qint64 size = std::min(kCopyChunkSize, newLength - start);
        const qint64 fromImage = std::clamp(oldLength - start, qint64(0), size);
        // The last piece is always written, so that the file has its length
        // even where no record reaches it (an IPS patch that sets the length).
        if (!check && fromImage == 0 && !records.touches(k) && start + size < newLength)
            continue;
        if (readFully(image, piece.data(), fromImage) != fromImage) {
            patched.fail(image.errorString());
            return false;
        }
        std::fill(piece.begin() + fromImage, piece.begin() + size, '\0');
        if (check)
            reorderBytes(piece.data(), size, check->stored, check->patchOrder);
        if (!records.applyTo(k, piece.data(), size)) {
            patched.fail(QStringLiteral("the patch changed while it was applied"));
            return false;
        }
        if (check) {
            check->crc = crc32(check->crc, piece.data(), size_t(size));
            reorderBytes(piece.data(), size, check->patchOrder, check->stored);
        }
        if (!patched.writeAt(start, piece.data(), size))
            return false;
    }
    return true;
}

// The records written one by one after the whole image is copied, in file
// order, for patches whose records do not fit in memory.
bool copyThenWriteRecords(QFile &image, QFile &patch, RecordFormat format,
                          const PatchFileCheck &checked, bool reordered, FileReplacement &patched) {
    if (checked.truncation) {
        patched.fail(QStringLiteral("an IPS patch that sets the result's length and holds more "
                                    "than 16 MiB of records is not applied"));
        return false;
    }
    if (reordered) {
        patched.fail(QStringLiteral("a patch that holds more than 16 MiB of records is applied "
                                    "only to an image in its own byte order; change the image's "
                                    "format first"));
        return false;
    }
    if (!copyStream(image, patched))
        return false;
    StreamSummary applied;
    RecordWriter writer(patched);
    return patch.seek(checked.recordsStart) &&
           walkRecords(patch, format, applied,
                       [&](const PatchRecord &r) { return writer.write(r); }) ==
               StreamCheck::Complete &&
           writer.flush() && applied.records == checked.records &&
           applied.end == checked.end; // else the patch changed meanwhile
}

// The image with the records written into it, complete and flushed to disk,
// but not yet in the image's place. The result is the same as writing every
// record byte by byte into the image in file order; a record past the end
// leaves a gap that reads as zeros.
bool writePatchedImage(QFile &patch, RecordFormat format, const PatchFileCheck &checked,
                       HeldRecords &held, const std::filesystem::path &imagePath,
                       ResultCheck *check, FileReplacement &patched) {
    QFile image;
    if (!openRegularFile(image, imagePath)) {
        patched.fail(QStringLiteral("the image cannot be read"));
        return false;
    }
    const qint64 oldLength = image.size();
    const qint64 newLength =
        checked.truncation ? *checked.truncation : std::max(oldLength, checked.end);
    if (format == RecordFormat::Ups) {
        const std::optional<UpsHeader> header = readUpsHeader(patch);
        if (!header || !patch.seek(checked.recordsStart)) {
            patched.fail(QStringLiteral("the patch cannot be read"));
            return false;
        }
        SortedXorRecords records(patch, *header);
        return copyWithRecords(image, oldLength, records, newLength, check, patched) &&
               records.records() == checked.records && patched.finish(newLength);
    }
    if (held.fit()) {
        held.sortIntoPieces(newLength);
        return copyWithRecords(image, oldLength, held, newLength, check, patched) &&
               patched.finish(newLength);
    }
    return copyThenWriteRecords(image, patch, format, checked, check != nullptr, patched) &&
           patched.finish(newLength);
}

// Reads an IPS patch's magic, leaving the file at its records.
PatchFileOutcome readIpsHeader(QFile &patch, RecordFormat format, PatchFileCheck &check) {
    char magic[kIpsMagicSize];
    const qint64 got = readFully(patch, magic, kIpsMagicSize);
    if (got < 0)
        return PatchFileOutcome::Unreadable;
    if (got < kIpsMagicSize ||
        std::memcmp(magic, format == RecordFormat::Ips32 ? kIps32Magic : kIpsMagic,
                    kIpsMagicSize) != 0)
        return PatchFileOutcome::NotAnApsFile;
    check.recordsStart = kIpsMagicSize;
    return PatchFileOutcome::Valid;
}

// Reads a PPF patch's header, leaving the file at its records.
PatchFileOutcome readPpfHeader(QFile &patch, PatchFileCheck &check) {
    const PpfLayout layout = readPpfLayout(patch);
    if (layout.version == 0)
        return PatchFileOutcome::NotAnApsFile;
    check.recordsStart = layout.recordsStart;
    return patch.seek(layout.recordsStart) ? PatchFileOutcome::Valid : PatchFileOutcome::Unreadable;
}

ApplyOutcome refusal(PatchFileOutcome outcome) {
    switch (outcome) {
    case PatchFileOutcome::Valid:
        break;
    case PatchFileOutcome::Unreadable:
        return ApplyOutcome::SourceUnreadable;
    case PatchFileOutcome::Truncated:
        return ApplyOutcome::SourceTruncated;
    case PatchFileOutcome::NotAnApsFile:
        return ApplyOutcome::NotAnApsFile;
    case PatchFileOutcome::UnsupportedEncoding:
        return ApplyOutcome::UnsupportedEncoding;
    case PatchFileOutcome::Invalid:
        return ApplyOutcome::InvalidPatch;
    }
    return ApplyOutcome::Applied;
}

// No check of the image beyond what the job's question asks.
std::optional<ApplyOutcome> anyImage(ApplyResult &, std::optional<ResultCheck> &) {
    return std::nullopt;
}

// Applies a patch whose records write bytes at offsets: the header read by
// `readHeader`, the image checked by `checkImage` once it is locked (which may
// ask for the result to be checked), the whole record stream checked before
// anything is asked or written, then the image written once with its records.
template <typename ReadHeader, typename CheckImage = decltype(anyImage)>
ApplyResult applyRecords(const PatchJob &job, RecordFormat format, ReadHeader &&readHeader,
                         CheckImage &&checkImage = anyImage) {
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    QFile patch;
    if (!openRegularFile(patch, job.patchPath))
        return finish(ApplyOutcome::SourceUnreadable);
    PatchFileCheck checked;
    if (const ApplyOutcome refused = refusal(readHeader(patch, checked));
        refused != ApplyOutcome::Applied)
        return finish(refused);

    ImageUpdate update(job);
    if (const auto refused = update.lockImage(result))
        return finish(*refused);
    std::optional<ResultCheck> check;
    if (const auto refused = checkImage(result, check))
        return finish(*refused);

    // Records in the order of their offsets need not be held: they are read
    // again alongside the pieces.
    HeldRecords held;
    if (const ApplyOutcome refused = refusal(checkRecordStream(
            patch, format, checked, format == RecordFormat::Ups ? nullptr : &held));
        refused != ApplyOutcome::Applied)
        return finish(refused == ApplyOutcome::InvalidPatch && format != RecordFormat::Aps
                          ? ApplyOutcome::PatchBreaksItsRules
                          : refused);
    result.records = checked.records;
    result.bytesWritten =
        format == RecordFormat::Ups ? checked.truncation.value_or(0) : checked.bytesWritten;

    if (const auto refused = update.startWriting())
        return finish(*refused);
    const bool written = patch.seek(checked.recordsStart) &&
                         writePatchedImage(patch, format, checked, held, job.imagePath,
                                           check ? &*check : nullptr, update.replacement());
    // A result that is not the patch's is not put in place.
    if (written && check && check->expectedCrc && check->crc != *check->expectedCrc)
        return finish(ApplyOutcome::ResultMismatch);
    return finish(update.putInPlace(written, result));
}

} // namespace

PatchFileCheck checkPatchFile(const std::filesystem::path &patchPath) {
    PatchFileCheck check;
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return check;
    check.outcome = readHeader(patch, check);
    if (check.outcome == PatchFileOutcome::Valid)
        check.outcome = checkRecordStream(patch, RecordFormat::Aps, check);
    return check;
}

ApplyResult applyPatch(const PatchJob &job) {
    PatchFileCheck header;
    const auto readApsHeader = [&header](QFile &patch, PatchFileCheck &check) {
        const PatchFileOutcome outcome = readHeader(patch, check);
        header = check;
        return outcome;
    };
    // A patch that names the byte order of its image (type 1) is applied in
    // that order to the image in whichever order the image is stored in: each
    // piece is put in the patch's order for its records and back.
    const auto inItsOrder = [&](ApplyResult &result,
                                std::optional<ResultCheck> &check) -> std::optional<ApplyOutcome> {
        HeaderBytes head;
        if (header.patchType != kN64PatchType || header.targetFormat > 1 ||
            !readHeaderBytes(job.imagePath, head))
            return std::nullopt;
        const ByteOrder patchOrder = ByteOrder(header.targetFormat);
        const ByteOrder stored = byteOrderOf(head);
        result.readAs = patchOrder;
        if (stored != ByteOrder::Unknown && stored != patchOrder)
            check = ResultCheck{stored, patchOrder, std::nullopt};
        return std::nullopt;
    };
    return applyRecords(job, RecordFormat::Aps, readApsHeader, inItsOrder);
}

namespace {

// IPS or IPS32, told by the patch's first bytes.
RecordFormat ipsFormatOf(const std::filesystem::path &patchPath) {
    QFile probe;
    char magic[kIpsMagicSize] = {};
    const bool ips32 = openRegularFile(probe, patchPath) &&
                       readFully(probe, magic, kIpsMagicSize) == kIpsMagicSize &&
                       std::memcmp(magic, kIps32Magic, kIpsMagicSize) == 0;
    return ips32 ? RecordFormat::Ips32 : RecordFormat::Ips;
}

} // namespace

ApplyResult applyIps(const PatchJob &job) {
    const RecordFormat format = ipsFormatOf(job.patchPath);
    return applyRecords(job, format, [format](QFile &patch, PatchFileCheck &check) {
        return readIpsHeader(patch, format, check);
    });
}

ApplyResult applyPpf(const PatchJob &job) {
    PpfLayout layout;
    const auto readHeader = [&layout](QFile &patch, PatchFileCheck &check) {
        layout = readPpfLayout(patch);
        return readPpfHeader(patch, check);
    };
    // The image must be the one the block check and size describe, in its
    // own byte order, unless the job says to apply it all the same.
    const auto checkImage = [&](ApplyResult &result,
                                std::optional<ResultCheck> &) -> std::optional<ApplyOutcome> {
        if (job.skipSourceCheck)
            return std::nullopt;
        const PpfImageCheck check = checkPpfImage(layout, job.imagePath);
        switch (check.fit) {
        case PpfImageFit::NoCheck:
        case PpfImageFit::Fits:
            return std::nullopt;
        case PpfImageFit::OtherOrder:
            result.readAs = check.order;
            return ApplyOutcome::OtherByteOrder;
        case PpfImageFit::Differs:
            return ApplyOutcome::WrongImage;
        case PpfImageFit::Unreadable:
            break;
        }
        return ApplyOutcome::DestinationUnwritable;
    };
    return applyRecords(job, RecordFormat::Ppf, readHeader, checkImage);
}

PatchFileCheck checkIpsFile(const std::filesystem::path &patchPath) {
    PatchFileCheck check;
    const RecordFormat format = ipsFormatOf(patchPath);
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return check;
    check.outcome = readIpsHeader(patch, format, check);
    if (check.outcome == PatchFileOutcome::Valid)
        check.outcome = checkRecordStream(patch, format, check);
    return check;
}

ApplyResult applyUps(const PatchJob &job) {
    const UpsInspection inspection = inspectUps(job.patchPath);
    const UpsHeader &header = inspection.header;
    if (inspection.outcome != ApplyOutcome::Applied ||
        header.outputSize > std::uint64_t(kLastWritableOffset) + 1) {
        ApplyResult refused;
        refused.outcome = inspection.outcome != ApplyOutcome::Applied
                              ? inspection.outcome
                              : ApplyOutcome::PatchBreaksItsRules;
        return refused;
    }
    const auto readHeader = [&](QFile &patch, PatchFileCheck &check) {
        check.recordsStart = header.hunksStart;
        return patch.seek(header.hunksStart) ? PatchFileOutcome::Valid
                                             : PatchFileOutcome::Unreadable;
    };
    // The image must be the patch's input in some byte order; the result is
    // made in that order and checked against the patch's output CRC-32.
    const auto checkImage = [&](ApplyResult &result,
                                std::optional<ResultCheck> &check) -> std::optional<ApplyOutcome> {
        QFile image;
        const SourceMatch match = matchSource(
            job, {header.inputSize, header.inputCrc, header.outputSize, header.outputCrc}, image,
            result);
        if (match.refusal)
            return match.refusal;
        check = ResultCheck{match.stored, result.readAs, header.outputCrc};
        return std::nullopt;
    };
    return applyRecords(job, RecordFormat::Ups, readHeader, checkImage);
}

} // namespace tarnic
