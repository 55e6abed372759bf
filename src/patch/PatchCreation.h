#pragma once
// Making an APS patch (type 1, "N64 Specific Patch", encoding 0) that turns one
// image into another. The header describes the original as the main window
// shows it, so the match pairs are all equal for the original; the records
// are chosen to make the patch as small as the format allows.

#include <QString>

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
    TooLargeForIps,     // IPS: the modified image is past 16 MiB (or needs a length that is)
};

struct CreateJob {
    std::filesystem::path originalPath;
    std::filesystem::path modifiedPath;
    std::filesystem::path patchPath; // created or replaced, all or nothing
    QString description;             // padded with spaces to 50 characters
};

struct CreateResult {
    CreateOutcome outcome = CreateOutcome::OriginalUnreadable;
    qint64 records = 0;       // records in the patch
    qint64 bytesWritten = 0;  // image bytes they write
    qint64 patchSize = 0;     // bytes in the patch file
    QString systemError;      // WriteFailed: the system's reason, where it gave one
    QString folderFlushError; // Created, but its folder could not be flushed: the reason
};

// Whether the patch can be written where the job says: not over either
// image (nor at the hidden name its new content takes, files/OwnNames.h),
// nothing that is not a plain file in the way, and not over a read-only file.
// The outcome to refuse with, the names in `result.systemError`.
std::optional<CreateOutcome> refusedPatchPath(const CreateJob &job, CreateResult &result);

// Reads both images once, in pieces, side by side; memory use does not grow
// with their size. Applying the patch to the original gives the modified image
// byte for byte. Records address the file as it is stored, in ascending order.
// Where the modified image is longer, the added bytes are records too; zeros
// among them may be left out where a later record follows (the gap reads as
// zeros), and the last byte is always written so the length comes out right.
CreateResult createPatch(const CreateJob &job);

// An IPS patch that turns one image into the other: changes closer than six
// bytes joined into one record, runs as RLE records where that is smaller, no
// record at the offset that reads "EOF", and the length of a shorter result
// after the end mark. For images up to 16 MiB; IPS has no description.
CreateResult createIpsPatch(const CreateJob &job);

// A delta BPS patch (patch/Bps.h) that turns one image into the other, with
// the description as its metadata: the target is read from the source in
// place where it can be, copied from elsewhere in the source where a stretch
// of it moved there, repeated where it runs, and read from the patch where
// nothing else serves. Both images are mapped into memory.
CreateResult createBpsPatch(const CreateJob &job);

} // namespace tarnic
