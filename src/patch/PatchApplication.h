#pragma once
// Writing a patch's records into an image. The whole record stream is checked
// before the image is touched, the patched image replaces the original only
// once complete and on disk, and a backup of the original can be kept.

#include "files/OwnNames.h"
#include "patch/PatchSummary.h"
#include "rom/ImageHeader.h"

#include <string>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace tarnic {

enum class ApplyOutcome {
    Applied,               // every record written; the image replaced
    Declined,              // the confirmation said no: nothing touched
    PatchUnreadable,       // the patch is missing, not a plain file, or cannot be read
    PatchTruncated,        // the patch ends inside its header
    NotAnApsFile,          // the patch does not start with "APS10"
    UnsupportedEncoding,   // the patch's encoding is not 0
    DestinationUnwritable, // the image is missing, not a file, read-only or locked
    InvalidPatch,          // the patch ends inside a record, or a record writes outside
                           // offsets 0 to 2^31 - 1: nothing touched
    PatchBreaksItsRules,   // the same for a patch of another format than APS (a record or
                           // an action cut short, or writing past what can be written):
                           // the patch is at fault, not the image
    BackupFailed,          // the backup could not be made: the image untouched
    WriteFailed,           // reading the image or writing the patched one failed (a full
                           // disk, say): the image untouched
    ImageBusy,             // another Tarnic operation works on the image and did not
                           // finish in time: nothing touched
    ImageChanged,          // another program changed the image while it was patched: the
                           // patched image was not put in its place
    OutputIsAnInput,       // the output named is the patch or the image itself
    InputAtWrittenName,    // an input (`clash.input`) sits at a name the run writes
                           // (`clash.written`): the backup, a hidden name: nothing touched
    NameInTheWay,          // a folder or the like sits at a name the run needs
                           // (`clash.written`): nothing touched, nothing moved
    // Patches that carry their source's and result's CRC-32 (BPS):
    WrongImage,         // the image is not the patch's source in any byte order
    AlreadyPatched,     // the image already is the patch's result
    PatchCorrupted,     // the patch's own CRC-32 is wrong
    ResultMismatch,     // the result's CRC-32 is not the patch's: nothing replaced
    FormatNotSupported, // a patch format this version recognises but does not apply
    // Patches that show the bytes of their image (a PPF's block check):
    OtherByteOrder, // the image is the patch's in another byte order (`readAs`), and
                    // the patch applies only to that order: nothing touched
};

// Whether reading a patch that carries its own CRC-32 (BPS, UPS) computes it
// over the whole file, or leaves that to its application (a large patch
// clicked in the window is shown at once; it is checked when applied).
enum class PatchCrcCheck { Whole, Deferred };

struct PatchJob {
    std::filesystem::path patchPath;
    std::filesystem::path imagePath;
    std::filesystem::path backupPath; // empty: no backup
    // Empty: the patched image replaces the image. Otherwise the patched image
    // is written to this file (created or replaced) and the image is only read.
    std::filesystem::path outputPath;
    // Asked once the patch and image have passed every check and before
    // anything is written; no answer (empty) means go ahead. False declines.
    std::function<bool()> confirm;
    // Runs just before the records and the backup are written.
    std::function<void()> workStarting;
    // For patches that name their source by CRC-32: apply to an image that is
    // not the source all the same (the result's CRC-32 still decides). For a
    // PPF patch: skip its block check.
    bool skipSourceCheck = false;
};

struct ApplyResult {
    ApplyOutcome outcome = ApplyOutcome::PatchUnreadable;
    std::int64_t records = 0;      // records in the patch, once its stream was checked
    std::int64_t bytesWritten = 0; // image bytes those records write (overlaps counted twice)
    // Why a read or write failed (BackupFailed, WriteFailed), in the system's
    // words ("No space left on device") where it gave any.
    std::string systemError;
    // Applied with a backup: where the image as it was is kept. The backup
    // asked for, unless the last rename failed; then the staging name beside
    // it (see files/Backup.h), with the reason in systemError.
    std::filesystem::path backupPath;
    // Applied with a backup: whether a backup was there before this one.
    bool replacedEarlierBackup = false;
    // Applied, but a folder could not be flushed to disk after the rename:
    // the system's reason (a power cut could still undo the change).
    std::string folderFlushError;
    // InputAtWrittenName, NameInTheWay: the names at fault.
    NameClash clash;
    // Patches that name their source: the order the image was read in, and
    // the CRC-32s a WrongImage refusal names (the image's in its own order,
    // and the source's the patch expects).
    ByteOrder readAs = ByteOrder::Unknown;
    std::uint32_t imageCrc = 0;
    std::uint32_t expectedCrc = 0;
    // With several patches (applyPatchFiles): the one the outcome is about.
    int patchIndex = 0;
    // A patch refused as breaking its format's rules: what is wrong with it.
    PatchFault fault = PatchFault::None;
};

// What a check of a whole patch file found: its header's type and declared
// image size, and a summary of its record stream.
enum class PatchFileOutcome {
    Valid,               // an APS patch whose whole record stream is complete and in range
    Unreadable,          // missing, not a plain file, or a read failed
    Truncated,           // the file ends inside its header
    NotAnApsFile,        // the file does not start with "APS10"
    UnsupportedEncoding, // the encoding is not 0
    Invalid,             // a record is cut short or writes outside offsets 0 to 2^31 - 1
};

struct PatchFileCheck {
    PatchFileOutcome outcome = PatchFileOutcome::Unreadable;
    std::uint8_t patchType = 0;
    std::uint8_t targetFormat = 0;       // type 1: the byte order of its image (ByteOrder's value)
    std::uint32_t declaredImageSize = 0; // the header's image-size field, once the header was read
    std::int64_t records = 0;            // the rest once the stream was read in full
    std::int64_t bytesWritten = 0;       // image bytes the records write (overlaps counted twice)
    std::int64_t end = 0;                // one past the last byte any record writes
    std::int64_t recordsStart = 0;       // where the records begin in the patch
    std::optional<std::int64_t> truncation; // IPS: the length the result is to have
    std::int64_t growTo = 0;                // APS: the length a shorter result grows to, with zeros
    PatchFault fault = PatchFault::None;    // Invalid: what is wrong with the records
};

// How an applier refuses a patch whose reading ended as `read` (not Readable).
ApplyOutcome refusalOf(PatchRead read, PatchFault fault);
// Whether an outcome is the patch's fault (it is damaged, cut short, of no
// known format or of one not applied), not the image's or the system's.
bool patchIsAtFault(ApplyOutcome outcome);

} // namespace tarnic
