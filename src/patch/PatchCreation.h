#pragma once
// Making a patch that turns one image into another: what a creator is asked
// and what it answers, whatever the format (each format's creator is in its
// own folder and in the format table).

#include <string>

#include <filesystem>
#include <optional>

namespace tarnic {

enum class CreateOutcome {
    Created,            // the patch is written
    OriginalUnreadable, // missing, not a plain file, or a read failed
    ModifiedUnreadable, // likewise
    OriginalNotAnImage, // neither cartridge order nor byte-swapped order
    ModifiedShorter,    // a patch can lengthen an image but never shorten it
    ModifiedTooLarge,   // longer than 2^31 bytes, past what a record can address
    DescriptionTooLong, // more than 50 characters, or a character outside ISO 8859-1
    PatchIsAnInput,     // the patch would replace the original or the modified file
    WriteFailed,        // the patch could not be written; nothing is left at its path
    TooLargeForFormat,  // past what the format addresses (IPS: 16 MiB, or a length that is)
};

struct CreateJob {
    std::filesystem::path originalPath;
    std::filesystem::path modifiedPath;
    std::filesystem::path patchPath; // created or replaced, all or nothing
    std::string description;         // padded with spaces to 50 characters
};

struct CreateResult {
    CreateOutcome outcome = CreateOutcome::OriginalUnreadable;
    std::int64_t records = 0;      // records in the patch
    std::int64_t bytesWritten = 0; // image bytes they write
    std::int64_t patchSize = 0;    // bytes in the patch file
    std::string systemError;       // WriteFailed: the system's reason, where it gave one
    std::string folderFlushError;  // Created, but its folder could not be flushed: the reason
};

// Whether the patch can be written where the job says: not over either
// image (nor at the hidden name its new content takes, files/OwnNames.h),
// nothing that is not a plain file in the way, and not over a read-only file.
// The outcome to refuse with, the names in `result.systemError`.
std::optional<CreateOutcome> refusedPatchPath(const CreateJob &job, CreateResult &result);

} // namespace tarnic
