#include "patch/ImageUpdate.h"

#include "files/FileReader.h"

namespace tarnic {

ImageUpdate::ImageUpdate(const PatchJob &job)
    : job_(job), inPlace_(job.outputPath.empty()),
      target_(inPlace_ ? job.imagePath : job.outputPath) {}

std::optional<ApplyOutcome>
ImageUpdate::lockImage(ApplyResult &result, const std::vector<std::filesystem::path> &otherInputs) {
    if (!inPlace_ &&
        (sameFile(job_.outputPath, job_.patchPath) || sameFile(job_.outputPath, job_.imagePath)))
        return ApplyOutcome::OutputIsAnInput;
    std::vector<std::filesystem::path> written = namesOfReplacing(target_);
    std::vector<std::filesystem::path> inputs = otherInputs;
    if (!job_.patchPath.empty())
        inputs.push_back(job_.patchPath);
    if (inPlace_) {
        written.erase(written.begin()); // the image itself: replaced by design
        if (!job_.backupPath.empty()) {
            for (const auto &name : namesOfBackup(job_.backupPath))
                written.push_back(name);
        }
    } else {
        inputs.push_back(job_.imagePath);
    }
    if (const NameClash clash = findClash(written, inputs)) {
        result.clash = clash;
        return clash.kind == NameClash::Kind::InTheWay ? ApplyOutcome::NameInTheWay
                                                       : ApplyOutcome::InputAtWrittenName;
    }
    FileReader image;
    if (inPlace_ ? !isWritableFile(job_.imagePath)
                 : !image.open(job_.imagePath) || !canBeCreatedOrReplaced(job_.outputPath)) {
        result.systemError = whyNotWritable(inPlace_ ? job_.imagePath : job_.outputPath);
        return ApplyOutcome::DestinationUnwritable;
    }
    // One writer at a time; the image is read only once the lock is held.
    lock_.emplace(job_.imagePath);
    switch (lock_->outcome()) {
    case FileLock::Outcome::Locked:
        // Whoever holds it already (a row of patches) settled them, and
        // keeps its own intermediate results there.
        if (!lock_->heldBefore())
            settleLeftoversOf(job_.imagePath);
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
    const bool withBackup = inPlace_ && !job_.backupPath.empty();
    BackupReplacement backup(job_.imagePath, job_.backupPath);
    if (withBackup && !backup.prepare(&result.systemError))
        return ApplyOutcome::BackupFailed;
    if (!replacement_->commit()) {
        result.systemError = replacement_->errorString();
        return replacement_->targetChanged() ? ApplyOutcome::ImageChanged
                                             : ApplyOutcome::WriteFailed;
    }
    result.folderFlushError = replacement_->folderFlushError();
    if (withBackup) {
        result.backupPath =
            backup.complete(&result.systemError) ? job_.backupPath : backup.stagingPath();
        result.replacedEarlierBackup = backup.hadEarlier();
        if (result.folderFlushError.empty())
            result.folderFlushError = backup.folderFlushError();
    }
    return ApplyOutcome::Applied;
}

} // namespace tarnic
