#include "patch/PatchApplication.h"

#include "files/SafeWrite.h"
#include "patch/ApsFormat.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarnic {

namespace {

// Offsets run from 0 to 2^31 - 2, and nothing is written past 2^31 - 1.
bool recordFits(const PatchRecord &r) {
    return r.Offset >= 0 && r.Offset < kLastWritableOffset &&
           qint64(r.Offset) + r.writtenSize() - 1 <= kLastWritableOffset;
}

enum class StreamCheck { Complete, Invalid, ReadFailed };

struct StreamSummary {
    qint64 records = 0;
    qint64 bytesWritten = 0;
    qint64 end = 0; // one past the last byte any record writes
};

// Walks the record stream from the patch's current position to its end.
// Every record is checked; `apply`, when given, receives each checked record.
template <typename Apply>
StreamCheck walkRecords(QIODevice &patch, StreamSummary &summary, Apply &&apply) {
    PatchRecordReader reader(patch);
    PatchRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case PatchRecordReader::Step::Record:
            if (!recordFits(record))
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
    const qint64 rest = recordStreamStart(check.patchType) - kFixedPart;
    const qint64 restGot = readFully(patch, head + kFixedPart, rest);
    if (restGot < 0)
        return PatchFileOutcome::Unreadable;
    if (restGot < rest)
        return PatchFileOutcome::Truncated;
    const auto *size =
        reinterpret_cast<const unsigned char *>(head + imageSizeOffset(check.patchType));
    check.declaredImageSize =
        quint32(size[0]) | quint32(size[1]) << 8 | quint32(size[2]) << 16 | quint32(size[3]) << 24;
    return PatchFileOutcome::Valid;
}

// Checks the record stream from the patch's current position to its end.
PatchFileOutcome checkRecordStream(QFile &patch, PatchFileCheck &check) {
    StreamSummary summary;
    const StreamCheck result =
        walkRecords(patch, summary, [](const PatchRecord &) { return true; });
    check.records = summary.records;
    check.bytesWritten = summary.bytesWritten;
    check.end = summary.end;
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

// The image with the records written into it, complete and flushed to disk,
// but not yet in the image's place.
bool writePatchedImage(QFile &patch, const PatchFileCheck &checked, const QString &imagePath,
                       FileReplacement &patched) {
    QFile image;
    if (!openRegularFile(image, imagePath) || !patched.open() || !copyStream(image, patched))
        return false;
    const qint64 oldLength = image.pos();
    image.close();

    // The records go in after the copy, in file order, so the result is the same
    // as writing every record byte by byte into the image. A record past the end
    // leaves a gap that reads as zeros.
    StreamSummary applied;
    RecordWriter writer(patched);
    if (!patch.seek(recordStreamStart(checked.patchType)) ||
        walkRecords(patch, applied, [&](const PatchRecord &r) { return writer.write(r); }) !=
            StreamCheck::Complete ||
        !writer.flush() || applied.records != checked.records || applied.end != checked.end)
        return false; // the patch changed meanwhile
    return patched.finish(std::max(oldLength, checked.end));
}

bool canReplace(const QString &path) {
    return !QFileInfo::exists(path) || isWritableFile(path);
}

} // namespace

PatchFileCheck checkPatchFile(const QString &patchPath) {
    PatchFileCheck check;
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return check;
    check.outcome = readHeader(patch, check);
    if (check.outcome == PatchFileOutcome::Valid)
        check.outcome = checkRecordStream(patch, check);
    return check;
}

ApplyResult applyPatch(const PatchJob &job) {
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    const auto refusal = [](PatchFileOutcome outcome) {
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
    };

    QFile patch;
    if (!openRegularFile(patch, job.patchPath))
        return finish(ApplyOutcome::SourceUnreadable);
    PatchFileCheck checked;
    if (const ApplyOutcome refused = refusal(readHeader(patch, checked));
        refused != ApplyOutcome::Applied)
        return finish(refused);

    const bool inPlace = job.outputPath.isEmpty();
    const QString &target = inPlace ? job.imagePath : job.outputPath;
    QFile image;
    if (inPlace ? !isWritableFile(job.imagePath)
                : !openRegularFile(image, job.imagePath) || !canReplace(job.outputPath))
        return finish(ApplyOutcome::DestinationUnwritable);
    image.close();

    // The whole stream is checked before anything is asked or written.
    if (const ApplyOutcome refused = refusal(checkRecordStream(patch, checked));
        refused != ApplyOutcome::Applied)
        return finish(refused);
    result.records = checked.records;
    result.bytesWritten = checked.bytesWritten;

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();
    if (inPlace &&
        (!resetAttributesToNormal(job.patchPath) || !resetAttributesToNormal(job.imagePath)))
        return finish(ApplyOutcome::DestinationUnwritable);

    ReplacedFileRelease oldImage(target);
    FileReplacement patched(target);
    if (!writePatchedImage(patch, checked, job.imagePath, patched))
        return finish(ApplyOutcome::WriteFailed);
    const bool withBackup = inPlace && !job.backupPath.isEmpty();
    if (withBackup && !keepAsBackup(job.imagePath, job.backupPath))
        return finish(ApplyOutcome::BackupFailed);
    if (!patched.commit()) {
        if (withBackup)
            separateBackup(job.imagePath, job.backupPath);
        return finish(ApplyOutcome::WriteFailed);
    }
    return finish(ApplyOutcome::Applied);
}

} // namespace tarnic
