#include "patch/PatchApplication.h"

#include "files/SafeWrite.h"
#include "patch/ApsFormat.h"

#include <QFile>

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

// The image with the records written into it, complete and flushed to disk,
// but not yet in the image's place.
bool writePatchedImage(QFile &patch, const StreamSummary &checked, const QString &imagePath,
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
    if (!patch.seek(kApsHeaderSize) ||
        walkRecords(patch, applied, [&](const PatchRecord &r) { return writer.write(r); }) !=
            StreamCheck::Complete ||
        !writer.flush() || applied.records != checked.records || applied.end != checked.end)
        return false; // the patch changed meanwhile
    return patched.finish(std::max(oldLength, checked.end));
}

} // namespace

ApplyResult applyPatch(const PatchJob &job) {
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    QFile patch;
    if (!openRegularFile(patch, job.patchPath))
        return finish(ApplyOutcome::SourceUnreadable);
    char head[7];
    const qint64 got = readFully(patch, head, sizeof head);
    if (got < 0)
        return finish(ApplyOutcome::SourceUnreadable);
    if (got < kMagicSize || std::memcmp(head, kApsMagic, kMagicSize) != 0)
        return finish(ApplyOutcome::NotAnApsFile);
    if (got < qint64(sizeof head))
        return finish(ApplyOutcome::SourceTruncated);
    if (head[6] != 0)
        return finish(ApplyOutcome::UnsupportedEncoding);
    if (patch.size() < kApsHeaderSize || !patch.seek(kApsHeaderSize))
        return finish(ApplyOutcome::SourceTruncated);
    if (!isWritableFile(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);

    // The whole stream is checked before anything is asked or written.
    StreamSummary checked;
    switch (walkRecords(patch, checked, [](const PatchRecord &) { return true; })) {
    case StreamCheck::Complete:
        break;
    case StreamCheck::Invalid:
        return finish(ApplyOutcome::InvalidPatch);
    case StreamCheck::ReadFailed:
        return finish(ApplyOutcome::SourceUnreadable);
    }
    result.records = checked.records;
    result.bytesWritten = checked.bytesWritten;

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();
    if (!resetAttributesToNormal(job.patchPath) || !resetAttributesToNormal(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);

    ReplacedFileRelease oldImage(job.imagePath);
    FileReplacement patched(job.imagePath);
    if (!writePatchedImage(patch, checked, job.imagePath, patched))
        return finish(ApplyOutcome::WriteFailed);
    const bool withBackup = !job.backupPath.isEmpty();
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
