#pragma once
// What reading a patch found, whatever its format: how the reading ended, what
// the patch checks of the image it is applied to, and what `info` and the
// window show of it. Each format's inspect (its row in patch/PatchFormat.h)
// fills one; the window and tarnic-cli show, check and apply from it alone.

#include "rom/ByteOrderConversion.h"

#include <string>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarnic {

enum class PatchFormat;

// How reading a patch ended; `PatchFault` says more of the last three.
enum class PatchRead {
    Readable,           // every part that was to be read was, and checks as it should
    Unreadable,         // missing, not a plain file, or a read failed
    NotAPatch,          // not a patch in any format this program knows
    CutShort,           // ends inside its header, or before parts it must have
    Damaged,            // breaks its format's rules, or its own CRC-32 is wrong
    UnsupportedVersion, // a version or encoding of its format this program does not read
};

// What is wrong with a patch, in its format's terms.
enum class PatchFault {
    None,
    RecordsBroken,       // its records do not read as its format's (none of those below)
    OwnCrcWrong,         // the CRC-32 the patch carries of itself
    UnknownTargetFormat, // an APS header's target format is neither 0 nor 1
    OtherEncoding,       // an APS encoding other than 0
    OtherVersion,        // a version number this program does not read
    EndsInsideRecord,    // the file ends inside a record
    WritesOutOfRange,    // a record writes outside offsets 0 to 2^31 - 1
    EmptyRun,            // IPS: a run record of length 0
    NoEndMark,           // IPS: the file ends without the end mark "EOF"
    DataAfterEndMark,    // IPS: bytes after "EOF" that are no length for the result
    HunkCutShort,        // UPS: a hunk runs into the CRC-32s that end the patch
    ActionCutShort,      // BPS: an action runs into the CRC-32s that end the patch
    ReadsPastSource,     // BPS: a SourceRead or SourceCopy reads outside the source
    CopyFromUnwritten,   // BPS: a TargetCopy reads target bytes not yet written
    WritesPastTarget,    // BPS: an action writes past the target size
    ShortOutput,         // BPS: the actions end before the target size is reached
    NumberTooLong,       // a varint does not fit in 64 bits
    TargetTooLarge,      // the result would be larger than 2^31 bytes
    XdeltaOne,           // not a patch of a known format, but an xdelta 1 patch
    // xdelta (VCDIFF):
    HeaderBitsUndefined, // the header indicator has bits VCDIFF does not define
    CustomCodeTable,     // a code table of its own, which xdelta no longer writes or reads
    SecondaryNotDecoded, // a secondary compressor this build does not decode
    NoWindows,           // a header and no window
    TooManyWindows,      // more windows than xdelta writes for the largest image
    WindowBroken,        // a window's indicators or lengths do not add up
    TargetSegment,       // a window copies from the result so far (VCD_TARGET)
    EndsInsideWindow,    // the file ends inside a window
    WindowTooLarge,      // a window larger than 64 MiB, which xdelta does not read
    SegmentPastImage,    // a window's source segment lies past 2^31 bytes
    SecondaryBroken,     // a section's secondary compression does not decode
    InstructionBroken,   // an instruction reads past its sections, copies from beyond
                         // what precedes it, or writes past its window; or they leave
                         // bytes of the sections unused
    WindowChecksumWrong, // the result of a window does not have the Adler-32 it carries
};

// How far a patch is read.
enum class ReadDepth {
    Header,  // what it says of itself: its header, sizes, stored CRC-32s, description
    Checked, // and its own CRC-32, where it carries one, checked over the whole file
    Whole,   // and every record, as applying it would read them
};

// What a patch checks of the image it is applied to.
enum class PatchChecks {
    Nothing,        // it writes its bytes into whatever image it is given
    CartridgePairs, // the cartridge it names (format, id, country, CRCs): the window's pairs
    SourceCrc,      // its source's size and CRC-32, in any byte order
    ImageBlock,     // bytes of the image it was made for (and perhaps its size)
    // checksums of its result, the first of what it makes from the image
    // proving that the image read in some byte order is its source
    ResultChecksums,
};

// What a patch that names its source by CRC-32 says of it.
struct NamedSource {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

// The texts the patch side of the window shows for a format that describes a
// cartridge of its own (APS). A control whose entry is empty keeps the text it
// had before the click.
struct PatchDisplay {
    std::optional<std::string> PatchTypeTxT;
    std::optional<std::string> EncodeMethodTxt;
    std::optional<std::string> PatchNfo;
    std::optional<std::string> BackupType;
    std::optional<std::string> CartID;
    std::optional<std::string> CountryID;
    std::optional<std::string> PTCRC;
};

// A line `info` prints: "Caption: value".
struct SummaryLine {
    std::string caption;
    std::string value;
};

// A value `info --json` gives: none (null), a text, a number, or yes or no.
using SummaryValue = std::variant<std::monostate, std::string, std::int64_t, std::uint64_t, bool>;
struct SummaryField {
    std::string key;
    SummaryValue value;
};

struct PatchSummary {
    PatchRead read = PatchRead::Unreadable;
    PatchFault fault = PatchFault::None;
    PatchFormat format{};
    PatchChecks checks = PatchChecks::Nothing;
    // Whether it says which byte order its records are in (an APS patch of
    // type 1, and any that checks its image by CRC-32 or bytes); others write
    // their bytes as they stand, in whatever order the image is in.
    bool namesByteOrder = false;
    std::string description;                   // the text it carries about itself (UTF-8)
    std::optional<NamedSource> source;         // SourceCrc: the image it was made for
    std::optional<std::uint64_t> blockCheckAt; // ImageBlock: where its bytes are in the image

    // What `info` shows: "<file>: <heading>", then the window's texts (when
    // `display`) and `lines`; as JSON, `kind` and the raw `fields`.
    std::string heading;
    std::string kind;
    std::vector<SummaryLine> lines;
    std::vector<SummaryField> fields;
    std::optional<PatchDisplay> display;

    bool readable() const { return read == PatchRead::Readable; }
    // Whether applying it checks by itself that the image is the right one.
    bool checksItsImage() const {
        return checks == PatchChecks::SourceCrc || checks == PatchChecks::ImageBlock ||
               checks == PatchChecks::ResultChecksums;
    }
};

// Whether an image is the one a patch's block check describes.
enum class ImageBlockFit {
    NoCheck,    // the patch carries none
    Fits,       // the image's bytes and size are the patch's
    OtherOrder, // they are once the image is read in another byte order (`order`)
    Differs,    // they are not in any order
    Unreadable, // the image could not be read
};
struct ImageBlockCheck {
    ImageBlockFit fit = ImageBlockFit::NoCheck;
    ByteOrder order = ByteOrder::Unknown;
};

// The start of a summary of a patch that names its source by CRC-32, whose
// reading ended as `read` (with `fault`): what it checks does not depend on that.
PatchSummary sourceCrcSummary(PatchFormat format, const char *kind, const char *heading,
                              PatchRead read, PatchFault fault);

// Texts for summaries: "1A2B3C4D", and "N bytes, CRC-32 1A2B3C4D".
std::string crc32Hex(std::uint32_t crc);
std::string sizeAndCrc(std::uint64_t size, std::uint32_t crc);

} // namespace tarnic
