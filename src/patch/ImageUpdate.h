#pragma once
// How every patch format puts its result in place: the output checked, the
// image locked for the whole operation (files/FileLock.h), the new image
// written to a FileReplacement that replaces the image only if no other
// program changed it meanwhile, and the backup kept aside and completed only
// once the new image is in place (files/Backup.h).

#include "files/Backup.h"
#include "files/FileLock.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"

#include <memory>
#include <optional>

namespace tarnic {

class ImageUpdate {
  public:
    explicit ImageUpdate(const PatchJob &job);

    // Checks that the output can be written and is neither input, and locks
    // the image. Nothing is written; on refusal, the outcome to report.
    std::optional<ApplyOutcome> lockImage();
    // Once the patch has passed every check: asks the job's question,
    // announces the work and opens the replacement. Declined when the answer
    // is no; on failure, the outcome to report.
    std::optional<ApplyOutcome> startWriting();
    FileReplacement &replacement() { return *replacement_; }
    // Once the caller has finished the replacement (or failed it): puts it in
    // place with the backup. Applied, or why not, with the system's reason and
    // where the old image is kept in `result`.
    ApplyOutcome putInPlace(bool finished, ApplyResult &result);

  private:
    const PatchJob &job_;
    bool inPlace_;
    QString target_;
    std::optional<FileLock> lock_;
    std::optional<ReplacedFileRelease> oldImage_;
    std::unique_ptr<FileReplacement> replacement_;
};

} // namespace tarnic
