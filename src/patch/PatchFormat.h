#pragma once
// The patch formats Tarnic knows, in one place: each with its name, the file
// name patterns it usually ships under, and the bytes it starts with. A
// patch's format is told by its content, never by its file name; the patterns
// only choose what the window's list shows.

#include "patch/PatchSummary.h"

#include <string>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnic {

enum class PatchFormat { Aps, Bps, Ups, Ips, Ips32, Ppf, Vcdiff, Unknown };

struct PatchJob;
struct ApplyResult;
class Reader;
class ResultPlace;
struct CreateJob;
struct CreateResult;

struct PatchFormatInfo {
    PatchFormat format;
    const char *name;       // as the window and the command line show it
    const char *patterns;   // ";"-separated file name patterns
    std::string_view magic; // the first bytes (a NUL among them included)
    // Its applier, and its creator where Tarnic makes patches of it; none for
    // a format this version only recognises.
    ApplyResult (*apply)(const PatchJob &);
    CreateResult (*create)(const CreateJob &);
    // The same applier on a patch and an image read from anywhere (memory),
    // the result put in the place given; `skipSourceCheck` as a job's.
    ApplyResult (*applyTo)(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);
    // What a patch of it says of itself, read to `depth`; none for a format
    // this version only recognises.
    PatchSummary (*inspect)(const std::filesystem::path &patch, ReadDepth depth);
    // For a format that checks bytes of its image (PatchChecks::ImageBlock):
    // whether the image at the second path is the one the patch describes.
    ImageBlockCheck (*checkBlock)(const std::filesystem::path &patch,
                                  const std::filesystem::path &image);
    // Its MIME type, as the desktop registers files: `mimeType` is defined by
    // the freedesktop shared MIME-info database where `sharedMimeType`, and by
    // Tarnic's own MIME package otherwise.
    const char *mimeType;
    bool sharedMimeType;
    // What its creator is good for, as `create --format` describes it.
    const char *createNote;
    // For a format that proves its source by checksums of its result
    // (PatchChecks::ResultChecksums): the byte order in which the image at
    // the second path is the source of the patch at the first; none when it
    // is not in any.
    std::optional<ByteOrder> (*sourceOrderOf)(const std::filesystem::path &patch,
                                              const std::filesystem::path &image) = nullptr;

    bool applies() const { return apply != nullptr; }
};

// Every format, APS first.
const std::vector<PatchFormatInfo> &patchFormats();
const PatchFormatInfo &infoOf(PatchFormat format);
// Adds a format to the table, after those Tarnic has; from then on it is
// recognised, listed, inspected and applied as they are. Its `format` must be
// a value of its own, past PatchFormat::Unknown.
void registerPatchFormat(const PatchFormatInfo &info);

// How many first bytes recognisePatch() needs at most.
inline constexpr std::ptrdiff_t kPatchMagicSize = 8;

// The format whose magic `firstBytes` starts with; Unknown for anything else.
PatchFormat recognisePatch(const std::string &firstBytes);
// The same for a file; Unknown when it cannot be read.
PatchFormat recognisePatchFile(const std::filesystem::path &path);
// Whether `format` is one of the table's (not Unknown).
inline bool recognised(PatchFormat format) {
    return format != PatchFormat::Unknown;
}

// Every format's patterns, for a file list: "*.APS;*.bps;...".
std::string patchPatterns();

// Reads the patch at `patchPath` to `depth` with the inspect of its format,
// told by its content; a file in no known format is read as APS, which says
// what it is not. A format without an inspect is summarised by its name.
PatchSummary inspectPatchFile(const std::filesystem::path &patchPath, ReadDepth depth);

// The byte order in which the image at `imagePath` is the source a patch
// names (PatchSummary::source); none when
// it is not in any (or cannot be read).
std::optional<ByteOrder> sourceOrder(const NamedSource &source,
                                     const std::filesystem::path &imagePath);
// The byte order in which the image at `imagePath` is the source of the
// patch at `patchPath` (summarised as `patch`), where the patch proves its
// source (by its CRC-32 or by checksums of its result); none when it does not,
// or the image is not its source in any order.
std::optional<ByteOrder> provenSourceOrder(const PatchSummary &patch,
                                           const std::filesystem::path &patchPath,
                                           const std::filesystem::path &imagePath);
// What must be settled with the user before a patch is applied to an image:
// asked by the window ("MatchCheck"), given as --force to tarnic-cli. Decided
// here, from what the patch checks, for both.
enum class ApplyQuestion {
    None,             // the patch checks the image itself, or an APS patch's pairs match
    PairsDiffer,      // an APS patch whose pairs differ from the image's
    NamesNoImage,     // the patch says nothing of the image it was made for
    NamesNoByteOrder, // nor of its byte order, and the image is not in cartridge order
};
// `imageOrder` is the image's, as its header tells; `pairsDiffer`, for a
// patch that names its cartridge, whether the pairs the window colours differ.
ApplyQuestion questionBefore(const PatchSummary &patch, ByteOrder imageOrder, bool pairsDiffer);

// Applies the patch at `job.patchPath` with the applier of its format, told
// by its content: FormatNotSupported for a format this version only knows,
// NotAnApsFile for a file in no known format.
ApplyResult applyPatchFile(const PatchJob &job);

// The same on a patch and an image read from anywhere, the result put in
// `place` (patch/ResultPlace.h): the checks and the result are those of
// files, nothing of files is involved.
ApplyResult applyPatch(Reader &patch, Reader &image, ResultPlace &place,
                       bool skipSourceCheck = false);

// Applies `patches` in order, each to the result of the one before (and so
// checked against it), the first to `job.imagePath` (after the job's question);
// the intermediate results go to a hidden folder beside the image
// (files/OwnNames.h), which is locked for the whole row. The image (or `job.outputPath`) is
// replaced once, with the last result and the backup the job asks for, or not
// at all: not when any patch is refused, nor when another program changed
// the image meanwhile. `job.patchPath` is not used.
ApplyResult applyPatchFiles(const std::vector<std::filesystem::path> &patches, const PatchJob &job);

} // namespace tarnic
