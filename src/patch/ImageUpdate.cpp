#include "patch/ImageUpdate.h"

namespace tarnic {

ImageUpdate::ImageUpdate(const PatchJob &job)
    : job_(job), inPlace_(job.outputPath.isEmpty()),
      target_(inPlace_ ? job.imagePath : job.outputPath) {}

std::optional<ApplyOutcome> ImageUpdate::lockImage() {
    if (!inPlace_ &&
        (sameFile(job_.outputPath, job_.patchPath) || sameFile(job_.outputPath, job_.imagePath)))
        return ApplyOutcome::OutputIsAnInput;
    QFile image;
    if (inPlace_
            ? !isWritableFile(job_.imagePath)
            : !openRegularFile(image, job_.imagePath) || !canBeCreatedOrReplaced(job_.outputPath))
        return ApplyOutcome::DestinationUnwritable;
    // One writer at a time; the image is read only once the lock is held.
    lock_.emplace(job_.imagePath);
    switch (lock_->outcome()) {
    case FileLock::Outcome::Locked:
        return std::nullopt;
    case FileLock::Outcome::Busy:
        return ApplyOutcome::ImageBusy;
    case FileLock::Outcome::Missing:
        break;
    }
    return ApplyOutcome::DestinationUnwritable;
}

std::optional<ApplyOutcome> ImageUpdate::startWriting() {
    if (job_.confirm && !job_.confirm())
        return ApplyOutcome::Declined;
    if (job_.workStarting)
        job_.workStarting();
    if (inPlace_ &&
        (!resetAttributesToNormal(job_.patchPath) || !resetAttributesToNormal(job_.imagePath)))
        return ApplyOutcome::DestinationUnwritable;
    oldImage_.emplace(target_);
    replacement_ = std::make_unique<FileReplacement>(target_);
    replacement_->requireUnchanged(job_.imagePath, lock_->identity());
    replacement_->open();
    return std::nullopt;
}

ApplyOutcome ImageUpdate::putInPlace(bool finished, ApplyResult &result) {
    if (!finished) {
        result.systemError = replacement_->errorString();
        return ApplyOutcome::WriteFailed;
    }
    // The backup is kept aside first and replaces an earlier one only once
    // the patched image is in place.
    const bool withBackup = inPlace_ && !job_.backupPath.isEmpty();
    BackupReplacement backup(job_.imagePath, job_.backupPath);
    if (withBackup && !backup.prepare(&result.systemError))
        return ApplyOutcome::BackupFailed;
    if (!replacement_->commit()) {
        result.systemError = replacement_->errorString();
        return replacement_->targetChanged() ? ApplyOutcome::ImageChanged
                                             : ApplyOutcome::WriteFailed;
    }
    if (withBackup)
        result.backupPath =
            backup.complete(&result.systemError) ? job_.backupPath : backup.stagingPath();
    return ApplyOutcome::Applied;
}

} // namespace tarnic
