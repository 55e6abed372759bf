#pragma once
// The patch formats Tarnic knows, in one place: each with its name, the file
// name patterns it usually ships under, and the bytes it starts with. A
// patch's format is told by its content, never by its file name; the patterns
// only choose what the window's list shows.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnic {

enum class PatchFormat { Aps, Bps, Ups, Ips, Ips32, Ppf, Vcdiff, Unknown };

struct PatchJob;
struct ApplyResult;
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
    bool namesItsSource; // carries its source's CRC-32 (else, like a simple APS
                         // patch, it says nothing of the image it was made for)
    // Its MIME type, as the desktop registers files: `mimeType` is defined by
    // the freedesktop shared MIME-info database where `sharedMimeType`, and by
    // Tarnic's own MIME package otherwise.
    const char *mimeType;
    bool sharedMimeType;
    // What its creator is good for, as `create --format` describes it.
    const char *createNote;

    bool applies() const { return apply != nullptr; }
};

// Every format, APS first.
const std::vector<PatchFormatInfo> &patchFormats();
const PatchFormatInfo &infoOf(PatchFormat format);

// How many first bytes recognisePatch() needs at most.
inline constexpr qsizetype kPatchMagicSize = 8;

// The format whose magic `firstBytes` starts with; Unknown for anything else.
PatchFormat recognisePatch(const QByteArray &firstBytes);
// The same for a file; Unknown when it cannot be read.
PatchFormat recognisePatchFile(const std::filesystem::path &path);

// Every format's patterns, for a file list: "*.APS;*.bps;...".
QString patchPatterns();

enum class ApplyOutcome;
enum class PatchCrcCheck;
enum class ByteOrder;

// What a patch that names its source (BPS, UPS) says of it.
struct NamedSource {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

// The text a patch carries about itself, as the window shows it under "NFo :":
// BPS metadata, a PPF description and FILE_ID.DIZ; empty for the others.
QString patchDescription(const std::filesystem::path &patchPath, PatchFormat format);
// Reads the named source of a BPS or UPS patch; none for a patch of another
// format, or one that does not read whole (`why` then says why).
std::optional<NamedSource> namedSourceOf(const std::filesystem::path &patchPath, PatchFormat format,
                                         ApplyOutcome &why, PatchCrcCheck check);
// Whether the patch checks the image it is applied to by itself: by the
// CRC-32 of its source (BPS, UPS), or by the bytes and size of that image a
// PPF patch may carry (its block check).
bool checksItsImage(const std::filesystem::path &patchPath, PatchFormat format);
// Whether the patch says which byte order its records are in: an APS patch
// of type 1 by its target format, a patch that names its source by CRC-32, a
// PPF patch by its block check. Others (IPS, a simple APS patch, a PPF patch
// without block check) write their bytes as they stand, in whatever order the
// image is in.
bool namesItsByteOrder(const std::filesystem::path &patchPath, PatchFormat format);
// The byte order in which the image at `imagePath` is that source; none when
// it is not in any (or cannot be read).
std::optional<ByteOrder> sourceOrder(const NamedSource &source,
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
// `imageOrder` is the image's, as its header tells; `pairsDiffer`, for an APS
// patch, whether the pairs the window colours differ.
ApplyQuestion questionBefore(const std::filesystem::path &patchPath, PatchFormat format,
                             ByteOrder imageOrder, bool pairsDiffer);

// Applies the patch at `job.patchPath` with the applier of its format, told
// by its content: FormatNotSupported for a format this version only knows,
// NotAnApsFile for a file in no known format.
ApplyResult applyPatchFile(const PatchJob &job);

// Applies `patches` in order, each to the result of the one before (and so
// checked against it), the first to `job.imagePath` (after the job's question);
// the intermediate results go to a hidden folder beside the image
// (files/OwnNames.h), which is locked for the whole row. The image (or `job.outputPath`) is
// replaced once, with the last result and the backup the job asks for, or not
// at all: not when any patch is refused, nor when another program changed
// the image meanwhile. `job.patchPath` is not used.
ApplyResult applyPatchFiles(const std::vector<std::filesystem::path> &patches, const PatchJob &job);

} // namespace tarnic
