#include "patch/PatchApplication.h"

#include "patch/ApsFormat.h"
#include "rom/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace tarnic {

namespace {

// Only an APS file with encoding 0 is applied.
ApplyOutcome checkPatchHeader(const QByteArray &patch) {
    if (patch.size() < kMagicSize || !patch.startsWith(kApsMagic))
        return ApplyOutcome::NotAnApsFile;
    if (patch.size() < 7)
        return ApplyOutcome::InvalidPatch;
    if (patch[6] != 0)
        return ApplyOutcome::UnsupportedEncoding;
    return ApplyOutcome::Applied;
}

// Offsets run from 0 to 2^31 - 2, and nothing is written past 2^31 - 1.
bool recordFits(const PatchRecord &r) {
    return r.Offset >= 0 && r.Offset < kLastWritableOffset &&
           qint64(r.Offset) + r.writtenSize() - 1 <= kLastWritableOffset;
}

// The whole record stream, checked: every record complete and within range.
// Nothing when the patch ends inside its header or a record, or a record does
// not fit.
std::optional<std::vector<PatchRecord>> readRecords(const QByteArray &patch) {
    if (patch.size() < kApsHeaderSize)
        return std::nullopt;
    std::vector<PatchRecord> records;
    PatchRecordReader reader(QByteArrayView(patch).sliced(kApsHeaderSize));
    PatchRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case PatchRecordReader::Step::Record:
            if (!recordFits(record))
                return std::nullopt;
            records.push_back(record);
            break;
        case PatchRecordReader::Step::End:
            return records;
        case PatchRecordReader::Step::Truncated:
            return std::nullopt;
        }
    }
}

// Streams the image into `out` piece by piece, writing into each piece the
// records that reach it, in file order, so the result is the same as writing
// every record byte by byte into the image. Past the image's end the pieces
// start as zeros, so gaps before records that lengthen the image are zeros.
bool writePatchedImage(QFile &image, QSaveFile &out, const std::vector<PatchRecord> &records) {
    const qint64 oldLength = image.size();
    qint64 newLength = oldLength;
    for (const PatchRecord &r : records) {
        if (r.writtenSize() > 0)
            newLength = std::max(newLength, qint64(r.Offset) + r.writtenSize());
    }

    const qint64 pieces = (newLength + kCopyChunkSize - 1) / kCopyChunkSize;
    std::vector<std::vector<std::uint32_t>> recordsOfPiece(pieces);
    for (std::uint32_t i = 0; i < records.size(); ++i) {
        const PatchRecord &r = records[i];
        if (r.writtenSize() == 0)
            continue;
        const qint64 first = r.Offset / kCopyChunkSize;
        const qint64 last = (qint64(r.Offset) + r.writtenSize() - 1) / kCopyChunkSize;
        for (qint64 p = first; p <= last; ++p)
            recordsOfPiece[p].push_back(i);
    }

    std::vector<char> piece(kCopyChunkSize);
    for (qint64 p = 0; p < pieces; ++p) {
        const qint64 start = p * kCopyChunkSize;
        const qint64 size = std::min(kCopyChunkSize, newLength - start);
        const qint64 fromImage = std::clamp(oldLength - start, qint64(0), size);
        if (readFully(image, piece.data(), fromImage) != fromImage)
            return false;
        std::memset(piece.data() + fromImage, 0, size_t(size - fromImage));

        for (std::uint32_t i : recordsOfPiece[p]) {
            const PatchRecord &r = records[i];
            const qint64 from = std::max<qint64>(r.Offset, start);
            const qint64 to = std::min<qint64>(qint64(r.Offset) + r.writtenSize(), start + size);
            char *into = piece.data() + (from - start);
            if (r.Length != 0)
                std::memcpy(into, r.Data + (from - r.Offset), size_t(to - from));
            else
                std::memset(into, r.RunValue, size_t(to - from));
        }
        if (out.write(piece.data(), size) != size)
            return false;
    }
    return true;
}

} // namespace

ApplyResult applyPatch(const PatchJob &job) {
    ApplyResult result;
    auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    // Patches are small beside images; the whole patch is read and checked
    // before the image is touched.
    QFile patchFile(job.patchPath);
    if (job.patchPath.isEmpty() || !QFileInfo(job.patchPath).isFile() ||
        !patchFile.open(QIODevice::ReadOnly))
        return finish(ApplyOutcome::SourceUnreadable);
    const QByteArray patch = patchFile.readAll();
    if (patch.size() != patchFile.size())
        return finish(ApplyOutcome::SourceUnreadable);
    patchFile.close();

    if (const ApplyOutcome header = checkPatchHeader(patch); header != ApplyOutcome::Applied)
        return finish(header);
    if (!isWritableFile(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);
    const std::optional<std::vector<PatchRecord>> records = readRecords(patch);
    if (!records)
        return finish(ApplyOutcome::InvalidPatch);

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();

    if (!resetAttributesToNormal(job.patchPath) || !resetAttributesToNormal(job.imagePath))
        return finish(ApplyOutcome::DestinationUnwritable);
    if (!job.backupPath.isEmpty()) {
        if (!keepAsBackup(job.imagePath, job.backupPath))
            return finish(ApplyOutcome::BackupFailed);
    }

    ReplacedFileRelease oldImage(job.imagePath);
    QFile image(job.imagePath);
    QSaveFile patched(job.imagePath);
    if (!image.open(QIODevice::ReadOnly) || !patched.open(QIODevice::WriteOnly) ||
        !writePatchedImage(image, patched, *records))
        return finish(ApplyOutcome::WriteFailed);
    image.close();
    if (!patched.commit())
        return finish(ApplyOutcome::WriteFailed);
    result.recordsApplied = int(records->size());
    return finish(ApplyOutcome::Applied);
}

} // namespace tarnic
