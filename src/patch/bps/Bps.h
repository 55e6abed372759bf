#pragma once
// The BPS patch ("BPS1"), as its author defines it:
//
//   "BPS1", source size, target size, metadata size (B-varints, patch/varint/Varint.h),
//   the metadata (any bytes; XML by convention), the actions, then the CRC-32s
//   of the source, the target and the patch (all its bytes but these last
//   four), each 4 bytes little-endian.
//
// An action is a varint n: command n & 3, length (n >> 2) + 1.
//   0 SourceRead  the target's next bytes from the same place in the source;
//   1 TargetRead  the next `length` bytes of the patch;
//   2 SourceCopy  a varint moves the source cursor (bit 0: backwards; the
//                 rest: how far), then `length` bytes from there;
//   3 TargetCopy  the same over the target written so far, byte by byte, so
//                 a copy may repeat what it writes itself.
// The patch is refused whole when an action reads past the source, before
// the start or past what is written of the target, or writes past the
// target's size; when the actions do not end exactly at the CRCs; or when
// any CRC-32 is not what it should be.

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/ResultPlace.h"
#include "rom/ImageHeader.h"

#include "files/FileReader.h"
#include "io/Reader.h"
#include <string>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace tarnic {

inline constexpr char kBpsMagic[] = "BPS1";

// How much of a patch's metadata is read: far more than any description.
inline constexpr std::int64_t kMetadataKept = 64 * 1024;

struct BpsHeader {
    std::uint64_t sourceSize = 0;
    std::uint64_t targetSize = 0;
    std::string metadata; // its first kMetadataKept bytes
    std::uint32_t sourceCrc = 0;
    std::uint32_t targetCrc = 0;
    std::uint32_t patchCrc = 0;
    std::int64_t actionsStart = 0; // where the actions begin in the patch
    std::int64_t actionsEnd = 0;   // where the CRC-32s begin
};

struct BpsInspection {
    // Readable once the header and footer are whole and the patch's CRC-32 is
    // right (or deferred); CutShort when it ends inside its header or leaves no
    // room for the CRC-32s; Damaged when its own CRC-32 is wrong.
    PatchRead outcome = PatchRead::Unreadable;
    PatchFault fault = PatchFault::None; // what is wrong where Damaged
    BpsHeader header;
};

// Reads the header and the CRC-32s, and checks the patch's CRC-32 over the
// whole file, read once in pieces (unless `check` defers that).
BpsInspection inspectBps(const std::filesystem::path &patchPath,
                         PatchCrcCheck check = PatchCrcCheck::Whole);
BpsInspection inspectBps(Reader &patch, PatchCrcCheck check = PatchCrcCheck::Whole);

// An image's CRC-32 read in one byte order.
struct OrderedCrc {
    ByteOrder order;
    std::uint32_t crc;
};

// The CRC-32 of the image in the orders it can be read in, its own first: an
// N64 image in all three (rom/ByteOrderConversion.h says what they are for a
// length that is no whole number of words), anything else only as it is. The other orders are read
// (in one more pass over the file) only when `enough`, given the CRC-32 in the image's own order,
// says no.
std::vector<OrderedCrc> imageCrcs(Reader &image, ByteOrder own,
                                  const std::function<bool(std::uint32_t)> &enough = {});

// Applies a BPS patch to the image in the byte order in which the image is
// the patch's source (tried in every order, its own first), and writes the
// result in the image's own order; with `job.skipSourceCheck`, in its own
// order whatever its CRC-32. The result's CRC-32 is checked before it
// replaces anything. Memory use does not grow with the image or the patch.
ApplyResult applyBps(const PatchJob &job);
// The same on a patch and an image read from anywhere, the result put in
// `place`.
ApplyResult applyBpsTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

// A delta BPS patch that turns one image into the other, with the
// description as its metadata: the target is read from the source in place
// where it can be, copied from elsewhere in the source or from the target
// written so far where a stretch of it is there (short ones too, such as
// strings moved by a byte or two), repeated where it runs, and read from the
// patch where nothing else serves. Both images are mapped into memory.
CreateResult createBpsPatch(const CreateJob &job);

// What the patch says of itself: its source and target, and its metadata as
// its description; its own CRC-32 checked unless `depth` is Header.
PatchSummary summarizeBps(const std::filesystem::path &patchPath, ReadDepth depth);

} // namespace tarnic
