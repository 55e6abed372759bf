#include "patch/PatchApplication.h"

#include "patch/ApsFormat.h"
#include "rom/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>

namespace tarnic {

namespace {

// D2 of the program's behaviour: only an APS file with encoding 0 is applied.
ApplyOutcome checkPatchHeader(QFile &patch)
{
    const QByteArray head = patch.read(7);
    if (head.size() < kMagicSize || head.left(kMagicSize) != kApsMagic)
        return ApplyOutcome::NotAnApsFile;
    if (head.size() < 7)
        return ApplyOutcome::InvalidPatch;
    if (head[6] != 0)
        return ApplyOutcome::UnsupportedEncoding;
    return ApplyOutcome::Applied;
}

bool recordFits(const PatchRecord &r)
{
    return r.Offset >= 0 && qint64(r.Offset) + r.writtenSize() - 1 <= kLastWritableOffset;
}

// Walks the whole record stream: every record complete and within range.
bool recordStreamIsValid(QFile &patch)
{
    if (patch.size() < kApsHeaderSize || !patch.seek(kApsHeaderSize))
        return false;
    PatchRecordReader reader(patch);
    PatchRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case PatchRecordReader::Step::Record:
            if (!recordFits(record))
                return false;
            break;
        case PatchRecordReader::Step::End:
            return true;
        case PatchRecordReader::Step::Truncated:
        case PatchRecordReader::Step::ReadError:
            return false;
        }
    }
}

bool makeBackup(const QString &imagePath, const QString &backupPath)
{
    if (QFileInfo::exists(backupPath) && !resetAttributesToNormal(backupPath))
        return false;
    QFile image(imagePath);
    QSaveFile backup(backupPath);
    return image.open(QIODevice::ReadOnly) && backup.open(QIODevice::WriteOnly) &&
           copyStream(image, backup) && backup.commit();
}

// Writes the image's current content followed by the records into `out`.
class RecordWriter {
public:
    RecordWriter(QSaveFile &out, qint64 length) : out_(out), length_(length) {}

    bool write(const PatchRecord &r)
    {
        const qint64 size = r.writtenSize();
        if (size == 0)
            return true;
        if (r.Offset > length_ && !fillWithZeros(r.Offset))
            return false;
        if (!out_.seek(r.Offset))
            return false;
        const char *data = r.Data.data();
        std::array<char, 255> run;
        if (r.Length == 0) {
            run.fill(char(r.RunValue));
            data = run.data();
        }
        if (out_.write(data, size) != size)
            return false;
        length_ = std::max(length_, qint64(r.Offset) + size);
        return true;
    }

private:
    bool fillWithZeros(qint64 upTo)
    {
        static const std::array<char, 4096> zeros{};
        if (!out_.seek(length_))
            return false;
        while (length_ < upTo) {
            const qint64 n = std::min<qint64>(zeros.size(), upTo - length_);
            if (out_.write(zeros.data(), n) != n)
                return false;
            length_ += n;
        }
        return true;
    }

    QSaveFile &out_;
    qint64 length_;
};

} // namespace

ApplyResult applyPatch(const PatchJob &job)
{
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    QFile patch(job.patchPath);
    if (job.patchPath.isEmpty() || !QFileInfo(job.patchPath).isFile() ||
        !patch.open(QIODevice::ReadOnly))
        return finish(ApplyOutcome::SourceUnreadable);
    if (const ApplyOutcome header = checkPatchHeader(patch); header != ApplyOutcome::Applied)
        return finish(header);
    if (!isWritableFile(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);
    if (!recordStreamIsValid(patch))
        return finish(ApplyOutcome::InvalidPatch);

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();

    if (!job.backupPath.isEmpty()) {
        if (!makeBackup(job.imagePath, job.backupPath))
            return finish(ApplyOutcome::BackupFailed);
        result.backupMade = true;
    }

    QFile image(job.imagePath);
    QSaveFile patched(job.imagePath);
    if (!image.open(QIODevice::ReadOnly) || !patched.open(QIODevice::WriteOnly) ||
        !copyStream(image, patched))
        return finish(ApplyOutcome::WriteFailed);
    const qint64 length = image.size();
    image.close();

    if (!patch.seek(kApsHeaderSize))
        return finish(ApplyOutcome::WriteFailed);
    PatchRecordReader reader(patch);
    RecordWriter writer(patched, length);
    PatchRecord record;
    for (;;) {
        const PatchRecordReader::Step step = reader.next(record);
        if (step == PatchRecordReader::Step::End)
            break;
        // The stream was checked above; a change since then is a failure.
        if (step != PatchRecordReader::Step::Record || !recordFits(record) ||
            !writer.write(record))
            return finish(ApplyOutcome::WriteFailed);
        ++result.recordsApplied;
    }
    if (!patched.commit())
        return finish(ApplyOutcome::WriteFailed);
    return finish(ApplyOutcome::Applied);
}

} // namespace tarnic
