#pragma once
// Writing a patch's records into an image. The whole record stream is checked
// before the image is touched, the patched image replaces the original only
// once complete, and a backup of the original can be made first.

#include <QString>

#include <functional>

namespace tarnic {

// The highest image offset a record may write to.
inline constexpr qint64 kLastWritableOffset = 0x7FFFFFFF;

enum class ApplyOutcome {
    Applied,               // every record written; the image replaced
    Declined,              // the confirmation said no: nothing touched
    SourceUnreadable,      // the patch cannot be opened for reading
    NotAnApsFile,          // the patch does not start with "APS10"
    UnsupportedEncoding,   // the patch's encoding is not 0
    DestinationUnwritable, // the image is missing, not a file, read-only or locked
    InvalidPatch,          // the patch ends inside its header or a record, or a record
                           // writes outside offsets 0 to 2^31 - 1: nothing touched
    BackupFailed,          // the backup could not be made: the image untouched
    WriteFailed,           // writing the patched image failed: the image untouched
};

struct PatchJob {
    QString patchPath;
    QString imagePath;
    QString backupPath; // empty: no backup
    // Asked once the patch and image have passed every check and before
    // anything is written; no answer (empty) means go ahead. False declines.
    std::function<bool()> confirm;
    // Runs just before the backup and the records are written.
    std::function<void()> workStarting;
};

struct ApplyResult {
    ApplyOutcome outcome = ApplyOutcome::SourceUnreadable;
    int recordsApplied = 0;
};

// Applies the records in file order (a later record wins where they overlap; a
// run record with count 0 writes nothing). A record reaching past the end of
// the image lengthens it, and a gap before such a record is filled with zeros;
// the image is never shortened. Memory use does not grow with the image.
ApplyResult applyPatch(const PatchJob &job);

} // namespace tarnic
