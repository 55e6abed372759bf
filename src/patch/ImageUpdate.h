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
#include "patch/ResultPlace.h"

#include <memory>
#include <optional>

namespace tarnic {

class ImageUpdate final : public ResultPlace {
  public:
    explicit ImageUpdate(const PatchJob &job);

    // Checks that the output can be written, that no name the job writes (the
    // image or output, the backup, their hidden names) is one of its inputs
    // (the patch, `otherInputs`, and the image when it is only read) or held
    // by something else, and locks the image; what a killed run left beside
    // the image is settled then. On refusal, the outcome to report, with the
    // names at fault in `result`.
    std::optional<ApplyOutcome>
    lockImage(ApplyResult &result, const std::vector<std::filesystem::path> &otherInputs = {});
    // Once the patch has passed every check: asks the job's question,
    // announces the work and opens the replacement. Declined when the answer
    // is no; on failure, the outcome to report.
    std::optional<ApplyOutcome> startWriting() override;
    FileReplacement &replacement() { return *replacement_; }
    Writer &writer() override { return *replacement_; }
    // Once the caller has finished the replacement (or failed it): puts it in
    // place with the backup. Applied, or why not, with the system's reason and
    // where the old image is kept in `result`.
    ApplyOutcome putInPlace(bool finished, ApplyResult &result) override;

  private:
    const PatchJob &job_;
    bool inPlace_;
    std::filesystem::path target_;
    std::optional<FileLock> lock_;
    std::optional<ReplacedFileRelease> oldImage_;
    std::unique_ptr<FileReplacement> replacement_;
};

} // namespace tarnic
