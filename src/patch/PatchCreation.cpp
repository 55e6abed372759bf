#include "patch/PatchCreation.h"

#include "files/OwnNames.h"
#include "files/SafeWrite.h"

namespace tarnic {

std::optional<CreateOutcome> refusedPatchPath(const CreateJob &job, CreateResult &result) {
    const NameClash clash =
        findClash(namesOfReplacing(job.patchPath), {job.originalPath, job.modifiedPath});
    if (clash.kind == NameClash::Kind::InputAtWrittenName)
        return CreateOutcome::PatchIsAnInput;
    if (clash.kind == NameClash::Kind::InTheWay) {
        result.systemError = clash.written.string() + " is in the way";
        return CreateOutcome::WriteFailed;
    }
    if (!canBeCreatedOrReplaced(job.patchPath)) {
        result.systemError = whyNotWritable(job.patchPath);
        return CreateOutcome::WriteFailed;
    }
    return std::nullopt;
}

} // namespace tarnic
