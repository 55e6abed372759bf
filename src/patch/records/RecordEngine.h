#pragma once
// The one engine for the formats whose records write bytes at offsets (APS,
// IPS, PPF, and UPS, whose records XOR theirs onto the image's). A format gives
// its header reader, its record reader and its rules; the engine checks the
// whole record stream before the image is touched, writes the patched image
// once, piece by piece, and replaces the original only once it is complete and
// on disk, keeping a backup when asked. Memory use grows neither with the
// image nor with the patch (at most 16 MiB of records are held).

#include "patch/PatchApplication.h"
#include "patch/PatchSummary.h"
#include "patch/ResultPlace.h"
#include "patch/records/RecordStream.h"
#include "rom/ByteOrderConversion.h"

#include "files/FileReader.h"
#include "io/Reader.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace tarnic {

struct RecordRules {
    // The format's record reader over `patch`, which stands at its records;
    // none when the patch no longer reads as one of its format.
    std::function<std::unique_ptr<RecordStream>(Reader &patch)> open;
    // The last offset at which a record may start.
    std::int64_t lastStart = kLastWritableOffset;
    // The records come in the order of their offsets and XOR their bytes onto
    // the image's (UPS): they are read again alongside the pieces, not held.
    bool xorInOffsetOrder = false;
    // What a record stream that is cut short or writes out of range is refused as.
    ApplyOutcome invalid = ApplyOutcome::PatchBreaksItsRules;
};

// For a patch whose records are in another byte order than the image (UPS
// read in the order the image is its input in, an APS patch made for the
// image in another order): the order the patch works in and the order the
// image is stored in; with `expectedCrc`, the result's CRC-32 as the patch
// names it, which the result must have (in the patch's order).
struct ResultCheck {
    ByteOrder stored;
    ByteOrder patchOrder;
    std::optional<std::uint32_t> expectedCrc;
    std::uint32_t crc = 0;
    bool summed = false; // `crc` is the whole result's
};

// Reads and checks a patch's header from its start, leaving the file at the
// records (`check.recordsStart`).
using HeaderReader = std::function<PatchFileOutcome(Reader &patch, PatchFileCheck &check)>;
// Checks the image (`image`, locked where it is a file): a refusal, or none to
// go on (with a check of the result to make, where the patch asks for one).
using ImageCheck = std::function<std::optional<ApplyOutcome>(Reader &image, ApplyResult &result,
                                                             std::optional<ResultCheck> &)>;

// Reads the record stream from the patch's position to its end, one record at
// a time, into `check`'s counts.
PatchFileOutcome checkRecordStream(Reader &patch, const RecordRules &rules, PatchFileCheck &check);
// A check's outcome as reading a patch ended (patch/PatchSummary.h), with
// `fault` set where it says more.
PatchRead readOf(PatchFileOutcome outcome, PatchFault &fault);

// How a header reader ends where reading the header ended as `read`.
PatchFileOutcome fileOutcomeOf(PatchRead read);

// The header and then the record stream of the patch at `patchPath`.
PatchFileCheck checkRecordFile(const std::filesystem::path &patchPath, const RecordRules &rules,
                               const HeaderReader &readHeader);

// Applies the records in file order (a later record wins where they overlap; a
// run record with count 0 writes nothing). A record reaching past the end of
// the image lengthens it, and a gap before such a record is filled with zeros;
// the image is shortened only to a length the patch sets. The image is locked
// for the whole operation (files/FileLock.h) and replaced only if no other
// program changed it meanwhile. The backup, when asked for, is kept aside once
// the patched image is complete and takes the place of an earlier backup only
// once the patched image is in place, so a failure leaves an earlier backup as
// it was.
ApplyResult applyRecords(const PatchJob &job, const RecordRules &rules,
                         const HeaderReader &readHeader, const ImageCheck &checkImage = {});
// The same on a patch and an image read from anywhere, the result put in
// `place` (in memory, say); the checks and the result are the same.
ApplyResult applyRecordsTo(Reader &patch, Reader &image, ResultPlace &place,
                           const RecordRules &rules, const HeaderReader &readHeader,
                           const ImageCheck &checkImage = {});

} // namespace tarnic
