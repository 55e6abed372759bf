#pragma once
// xdelta patches: VCDIFF (RFC 3284) as xdelta 3 writes it.
//
//   D6 C3 C4 00, a header indicator (1: secondary compression, 2: a code table
//   of its own, 4: an application header), xdelta's number for the secondary
//   compressor, the application header (xdelta: "target/tcomp/source/scomp");
//   then windows to the end of the file, each:
//   an indicator (1: copies from a segment of the source, 2: of the result so
//   far, 4: xdelta's Adler-32 of the window's result), the segment's length and
//   position, the length of the rest, the window's length in the result, which
//   of its three sections are secondary-compressed, their lengths, the Adler-32
//   (4 bytes, big-endian), and the sections: data, instructions, addresses.
//
// Numbers are big-endian, 7 bits a byte, every byte but the last marked by its
// top bit. An instruction adds bytes from the data section, runs one of them,
// or copies from the source segment followed by the window's result so far
// (overlapping its own output), with addresses through two small caches that
// start afresh in every window.

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/ResultPlace.h"

#include "io/Reader.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnic {

inline constexpr char kVcdiffMagic[] = "\xD6\xC3\xC4";

// The largest window xdelta reads (and so writes).
inline constexpr std::uint64_t kLargestWindow = std::uint64_t(64) << 20;
// The most windows a patch may have: xdelta's smallest windows are 16 KiB,
// so a result of 2^31 bytes takes 2^17 of them.
inline constexpr std::size_t kMostWindows = std::size_t(1) << 18;
// How much of an application header is read: far more than two file names.
inline constexpr std::int64_t kAppHeaderKept = 4096;

struct VcdiffWindow {
    std::uint8_t indicator = 0;
    std::uint64_t segmentLength = 0; // the source segment it copies from
    std::uint64_t segmentPosition = 0;
    std::uint64_t length = 0;       // of its result
    std::uint64_t resultOffset = 0; // where that goes in the whole result
    std::uint8_t compressed = 0;    // which sections are (bit 0 data, 1 instructions, 2 addresses)
    std::uint64_t sectionLength[3] = {0, 0, 0}; // data, instructions, addresses, as stored
    std::optional<std::uint32_t> adler32;
    std::int64_t sectionsAt = 0; // where its data section starts in the patch

    bool readsSource() const { return (indicator & 1) != 0; }
};

struct VcdiffInspection {
    PatchRead outcome = PatchRead::Unreadable;
    PatchFault fault = PatchFault::None;
    std::uint8_t secondary = 0; // xdelta's number for it, 0 for none
    std::string appHeader;      // its first kAppHeaderKept bytes
    std::vector<VcdiffWindow> windows;
    bool allWindows = false;      // whether `windows` holds every one
    std::uint64_t resultSize = 0; // once every window is read

    // The first window that reads the source and carries an Adler-32: the
    // one that tells whether an image is the source, and in which order.
    const VcdiffWindow *provingWindow() const;
};

// Reads the header and the windows' headers (the first only, unless
// `allWindows`), stepping over their sections.
VcdiffInspection inspectVcdiff(Reader &patch, bool allWindows);

// Applies an xdelta patch to the image in the byte order in which the first
// window that reads the image gives its result's Adler-32 (its own order
// first), and writes the result in the image's own order; every window's
// Adler-32 is checked before the result replaces anything. With
// `job.skipSourceCheck`, in its own order whatever the first window gives.
ApplyResult applyXdelta(const PatchJob &job);
ApplyResult applyXdeltaTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

// An xdelta patch that turns one image into the other: the delta encoder's
// choices (as for BPS) in windows of 8 MiB of the target, each with its
// Adler-32, without secondary compression, so that every VCDIFF decoder reads
// it; the description, or else the two files' names, as its application
// header.
CreateResult createXdeltaPatch(const CreateJob &job);

// The byte order in which the image is the patch's source, as its proving
// window tells; none when it is not in any (or nothing proves it).
std::optional<ByteOrder> xdeltaSourceOrder(const std::filesystem::path &patch,
                                           const std::filesystem::path &image);

// What the patch says of itself: the application header (file names, or a
// description a patching program put there), its compression, its windows.
PatchSummary summarizeXdelta(const std::filesystem::path &patchPath, ReadDepth depth);

} // namespace tarnic
