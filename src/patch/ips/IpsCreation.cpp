#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/PatchCreation.h"
#include "patch/ips/IpsFormat.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>

namespace tarnic {

namespace {

constexpr qint64 kIpsLimit = qint64(1) << 24; // offsets and the length are 24-bit
constexpr qint64 kEofOffset = 0x454F46;       // an offset that reads "EOF"
constexpr qint64 kMaxRecord = 0xFFFF;
constexpr qint64 kJoinGap = 5;    // unchanged bytes cheaper than a new record
constexpr qint64 kRunWorthIt = 9; // a run this long is cheaper as RLE

void bigEndian(QByteArray &to, qint64 value, int size) {
    for (int i = size - 1; i >= 0; --i)
        to += char(value >> (8 * i));
}

class IpsWriter {
  public:
    explicit IpsWriter(const QByteArray &modified) : modified_(modified) {}

    // Writes the bytes [from, to) of the modified image as records.
    void stretch(qint64 from, qint64 to) {
        while (from < to) {
            if (from == kEofOffset) {
                // A record here would read as the end mark: start one byte early.
                copy(from - 1, 2);
                from += 1;
                continue;
            }
            const qint64 run = runAt(from, std::min(to, from + kMaxRecord));
            const qint64 whole = std::min(to - from, kMaxRecord);
            if (run >= kRunWorthIt || (run == whole && run >= 4)) {
                rle(from, run);
                from += run;
                continue;
            }
            // Literal bytes up to the next run worth its own record.
            qint64 end = from + 1;
            while (end < from + whole && runAt(end, from + whole) < kRunWorthIt &&
                   end != kEofOffset)
                ++end;
            copy(from, end - from);
            from = end;
        }
    }

    void finish(qint64 originalSize) {
        patch_ += "EOF";
        if (modified_.size() < originalSize)
            bigEndian(patch_, modified_.size(), 3);
    }

    const QByteArray &bytes() const { return patch_; }
    qint64 records = 0;
    qint64 bytesWritten = 0;

  private:
    qint64 runAt(qint64 at, qint64 limit) const {
        qint64 end = at + 1;
        while (end < limit && modified_[end] == modified_[at])
            ++end;
        return end - at;
    }
    void copy(qint64 at, qint64 size) {
        bigEndian(patch_, at, 3);
        bigEndian(patch_, size, 2);
        patch_ += modified_.mid(at, size);
        ++records;
        bytesWritten += size;
    }
    void rle(qint64 at, qint64 count) {
        bigEndian(patch_, at, 3);
        bigEndian(patch_, 0, 2);
        bigEndian(patch_, count, 2);
        patch_ += modified_[at];
        ++records;
        bytesWritten += count;
    }

    const QByteArray &modified_;
    QByteArray patch_ = kIpsMagic;
};

QByteArray readAll(const std::filesystem::path &path, qint64 limit, bool &ok) {
    QFile file;
    ok = openRegularFile(file, path);
    return ok ? file.read(limit) : QByteArray();
}

} // namespace

CreateResult createIpsPatch(const CreateJob &job) {
    CreateResult result;
    const auto finish = [&](CreateOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    if (!job.description.isEmpty())
        return finish(CreateOutcome::DescriptionTooLong); // IPS has no place for one
    if (const auto refused = refusedPatchPath(job, result))
        return finish(*refused);
    const QFileInfo modifiedInfo(job.modifiedPath);
    if (modifiedInfo.exists() && modifiedInfo.size() > kIpsLimit)
        return finish(CreateOutcome::TooLargeForFormat);
    bool ok = false;
    const QByteArray modified = readAll(job.modifiedPath, kIpsLimit + 1, ok);
    if (!ok)
        return finish(CreateOutcome::ModifiedUnreadable);
    QFile originalFile;
    if (!openRegularFile(originalFile, job.originalPath))
        return finish(CreateOutcome::OriginalUnreadable);
    const qint64 originalSize = originalFile.size();
    // A shorter result needs its length, which must fit in 24 bits too.
    if (modified.size() > kIpsLimit ||
        (modified.size() < originalSize && modified.size() >= kIpsLimit))
        return finish(CreateOutcome::TooLargeForFormat);
    const QByteArray original = originalFile.read(modified.size());

    // Past the original's end the modified image is compared with zeros, and
    // its last byte is always written so that the result has its length.
    IpsWriter writer(modified);
    const auto before = [&](qint64 at) { return at < original.size() ? original[at] : char(0); };
    const qint64 compared =
        modified.size() > originalSize ? modified.size() - 1 : qint64(modified.size());
    for (qint64 at = 0; at < compared;) {
        if (modified[at] == before(at)) {
            ++at;
            continue;
        }
        qint64 end = at + 1;
        for (qint64 same = 0; end < compared && same <= kJoinGap; ++end)
            same = modified[end] == before(end) ? same + 1 : 0;
        while (end > at && modified[end - 1] == before(end - 1))
            --end; // the stretch ends with its last change
        writer.stretch(at, end);
        at = end;
    }
    if (compared < modified.size())
        writer.stretch(compared, modified.size());
    writer.finish(originalSize);

    FileReplacement patch(job.patchPath);
    if (!patch.open() || !patch.write(writer.bytes()) || !patch.finish(writer.bytes().size()) ||
        !patch.commit()) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();
    result.records = writer.records;
    result.bytesWritten = writer.bytesWritten;
    result.patchSize = writer.bytes().size();
    return finish(CreateOutcome::Created);
}

} // namespace tarnic
