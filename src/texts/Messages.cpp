#include "texts/Messages.h"

#include "rom/NameTables.h"

#include <cctype>

namespace tarnic::text {

namespace {

constexpr Severity Refused = Severity::Refused;
constexpr Severity Trouble = Severity::Trouble;

Reason reason(const std::string &message, const char *detail, Severity severity) {
    return {message, std::string(detail), severity};
}

Reason reason(const char *detail, Severity severity) {
    return {std::nullopt, std::string(detail), severity};
}

} // namespace

std::string faultText(PatchFault fault) {
    switch (fault) {
    case PatchFault::None:
    case PatchFault::RecordsBroken:
        break;
    case PatchFault::OwnCrcWrong:
        return "its own CRC-32 is wrong";
    case PatchFault::UnknownTargetFormat:
        return "the header names a target format other than 0 or 1";
    case PatchFault::OtherEncoding:
        return "an encoding other than 0";
    case PatchFault::OtherVersion:
        return "a version this program does not read";
    case PatchFault::EndsInsideRecord:
        return "the patch ends inside a record";
    case PatchFault::WritesOutOfRange:
        return "a record writes outside offsets 0 to 2^31 - 1";
    case PatchFault::EmptyRun:
        return "a run record has a length of 0";
    case PatchFault::NoEndMark:
        return "the patch ends without its end mark (EOF)";
    case PatchFault::DataAfterEndMark:
        return "bytes follow the end mark (EOF) that are no length for the result";
    case PatchFault::HunkCutShort:
        return "a hunk runs into the three CRC-32s that end the patch";
    case PatchFault::ActionCutShort:
        return "an action runs into the three CRC-32s that end the patch";
    case PatchFault::ReadsPastSource:
        return "an action reads outside the source";
    case PatchFault::CopyFromUnwritten:
        return "a TargetCopy reads target bytes not yet written";
    case PatchFault::WritesPastTarget:
        return "an action writes past the target size";
    case PatchFault::ShortOutput:
        return "the actions end before the target size";
    case PatchFault::NumberTooLong:
        return "a number in the patch does not fit in 64 bits";
    case PatchFault::TargetTooLarge:
        return "the result it names is larger than 2^31 bytes";
    case PatchFault::XdeltaOne:
        return "an xdelta 1 patch, an older format than the VCDIFF of xdelta 3, which is not "
               "read; ask its author for an xdelta 3 patch";
    case PatchFault::HeaderBitsUndefined:
        return "its header indicator has bits VCDIFF does not define";
    case PatchFault::CustomCodeTable:
        return "it carries a code table of its own, which xdelta 3 no longer writes or reads";
    case PatchFault::SecondaryNotDecoded:
        return "its sections are compressed with a secondary compressor this build does not "
               "decode";
    case PatchFault::NoWindows:
        return "it has a header and no window";
    case PatchFault::TooManyWindows:
        return "it has more windows than xdelta 3 writes for any image (262,144)";
    case PatchFault::WindowBroken:
        return "a window's indicators or lengths do not add up";
    case PatchFault::TargetSegment:
        return "a window copies from the result made so far (VCD_TARGET), which xdelta 3 "
               "neither writes nor reads";
    case PatchFault::EndsInsideWindow:
        return "the patch ends inside a window";
    case PatchFault::WindowTooLarge:
        return "a window is larger than 64 MiB, which xdelta 3 does not read either";
    case PatchFault::SegmentPastImage:
        return "a window reads a source segment past 2^31 bytes";
    case PatchFault::SecondaryBroken:
        return "a section's secondary compression does not decode";
    case PatchFault::InstructionBroken:
        return "an instruction of a window reads past its sections, copies from beyond what "
               "precedes it or writes past the window, or the sections are not used exactly";
    case PatchFault::WindowChecksumWrong:
        return "a window of the result does not have the Adler-32 the patch carries for it";
    }
    return "a record is cut short, breaks the format's rules or writes outside offsets 0 to "
           "2^31 - 1";
}

std::string withArticle(const std::string &formatName) {
    // Letters whose names start with a vowel sound (an APS, an F...), and
    // words that start with one (an xdelta, said "ex-delta").
    const bool vowelSound = !formatName.empty() &&
                            std::string_view("AEFHILMNORSX")
                                    .find(char(std::toupper(std::uint8_t(formatName.front())))) !=
                                std::string_view::npos;
    return (vowelSound ? std::string("an ") : std::string("a ")) + formatName;
}

std::string countOf(std::int64_t count, const std::string &noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string orderName(ByteOrder order) {
    switch (order) {
    case ByteOrder::Cartridge:
    case ByteOrder::ByteSwapped:
        return trimmed(ImageFormatNames[int(order)]);
    case ByteOrder::LittleEndian:
        return std::string("little-endian");
    case ByteOrder::Unknown:
        break;
    }
    return std::string("unknown");
}

std::string byteOrderQuestion(const std::string &imageOrder) {
    return "The Patch Does Not Say Which Byte Order It Was Made For, And This Rom Is In " +
           imageOrder +
           " Order. A Patch Made For CD64/Z64/Wc/SP Needs Change Format First.  Continue AnyWay ?";
}

std::string byteOrderRefusal(const std::string &imageOrder, const std::string &remedy) {
    return "the patch does not say which byte order it was made for, and the image is in " +
           imageOrder +
           " order; a patch made for CD64/Z64/Wc/SP order needs the image converted first (" +
           remedy + "); --force applies it as it is";
}

std::string Reason::line() const {
    if (!message)
        return detail;
    if (detail.empty())
        return *message;
    // "Error Openning Source File:" ends in its own colon.
    return *message + (message->ends_with(':') ? std::string(" ") : std::string(": ")) + detail;
}

Reason reasonFor(InspectionOutcome outcome) {
    switch (outcome) {
    case InspectionOutcome::Shown:
        return {};
    case InspectionOutcome::CannotOpen:
        return reason(ErrorOpeningFile, "cannot be read", Trouble);
    case InspectionOutcome::NotAnApsFile:
        return reason(NotAnApsFile, "", Refused);
    case InspectionOutcome::UnsupportedEncoding:
        return reason(NotSupported, "an encoding other than 0", Refused);
    case InspectionOutcome::ReadFailed:
        return reason(ErrorOpeningFile,
                      "the header is cut short or names a target format other than 0 or 1",
                      Refused);
    }
    return reason(ErrorOpeningFile, "", Trouble);
}

Reason reasonFor(const PatchSummary &patch) {
    const std::string name = withArticle(infoOf(patch.format).name);
    switch (patch.read) {
    case PatchRead::Readable:
        return {};
    case PatchRead::Unreadable:
        break;
    case PatchRead::NotAPatch:
        if (patch.fault == PatchFault::XdeltaOne)
            return {NotAnApsFile, faultText(patch.fault), Refused};
        return reason(NotAnApsFile, "", Refused);
    case PatchRead::CutShort:
        return {ErrorOpeningFile,
                name + std::string(" patch cut short: the patch ends inside its header"), Refused};
    case PatchRead::Damaged:
        switch (patch.fault) {
        case PatchFault::OwnCrcWrong:
            return reason(DamagedPatch, "download it again", Refused);
        case PatchFault::UnknownTargetFormat:
            return reason(ErrorOpeningFile, "the header names a target format other than 0 or 1",
                          Refused);
        default:
            return {ErrorOpeningSource, faultText(patch.fault), Refused};
        }
    case PatchRead::UnsupportedVersion:
        if (patch.fault == PatchFault::OtherEncoding)
            return reason(NotSupported, "an encoding other than 0", Refused);
        if (patch.fault != PatchFault::None && patch.fault != PatchFault::OtherVersion)
            return {NotSupported, name + " patch: " + faultText(patch.fault), Refused};
        return {NotSupported, name + std::string(" patch of a version this program does not read"),
                Refused};
    }
    return reason(ErrorOpeningFile, "cannot be read", Trouble);
}

Reason reasonFor(PatchFileOutcome outcome) {
    switch (outcome) {
    case PatchFileOutcome::Valid:
        return {};
    case PatchFileOutcome::Unreadable:
        return reason(ErrorOpeningSource, "the patch cannot be read", Trouble);
    case PatchFileOutcome::Truncated:
        return reason(ErrorOpeningSource, "the patch ends inside its header", Refused);
    case PatchFileOutcome::NotAnApsFile:
        return reason(NotAnApsFile, "", Refused);
    case PatchFileOutcome::UnsupportedEncoding:
        return reason(NotSupported, "", Refused);
    case PatchFileOutcome::Invalid:
        return reason(ErrorOpeningDestination,
                      "a record of the patch is cut short or writes outside offsets 0 to "
                      "2^31 - 1",
                      Refused);
    }
    return reason(ErrorOpeningSource, "", Trouble);
}

Reason reasonFor(ApplyOutcome outcome) {
    switch (outcome) {
    case ApplyOutcome::Applied:
    case ApplyOutcome::Declined:
        return {};
    case ApplyOutcome::PatchUnreadable:
        return reasonFor(PatchFileOutcome::Unreadable);
    case ApplyOutcome::PatchTruncated:
        return reasonFor(PatchFileOutcome::Truncated);
    case ApplyOutcome::NotAnApsFile:
        return reasonFor(PatchFileOutcome::NotAnApsFile);
    case ApplyOutcome::UnsupportedEncoding:
        return reasonFor(PatchFileOutcome::UnsupportedEncoding);
    case ApplyOutcome::InvalidPatch:
        return reasonFor(PatchFileOutcome::Invalid);
    case ApplyOutcome::PatchBreaksItsRules:
        return reason(ErrorOpeningSource,
                      "the patch breaks its format's rules: a record or an action is cut short, "
                      "or writes outside offsets 0 to 2^31 - 1; nothing written",
                      Refused);
    case ApplyOutcome::DestinationUnwritable:
        return reason(ErrorOpeningDestination, "missing, read-only, or not a plain file", Trouble);
    case ApplyOutcome::BackupFailed:
        return reason(ErrorOpeningDestination,
                      "the backup could not be made; the image is unchanged", Trouble);
    case ApplyOutcome::WriteFailed:
        return reason(ErrorOpeningDestination, "writing failed; the image is unchanged", Trouble);
    case ApplyOutcome::ImageBusy:
        return reason(ErrorOpeningDestination,
                      "another Tarnic is working on the image; nothing written, try again "
                      "once it is done",
                      Trouble);
    case ApplyOutcome::ImageChanged:
        return reason(ErrorOpeningDestination,
                      "another program changed the image meanwhile; nothing written, the "
                      "image is as that program left it",
                      Trouble);
    case ApplyOutcome::WrongImage:
        return reason(WrongRom, "nothing written", Refused);
    case ApplyOutcome::OtherByteOrder:
        return reason(OtherByteOrder, "the patch applies to it only in that order; nothing written",
                      Refused);
    case ApplyOutcome::AlreadyPatched:
        return reason(AlreadyPatched, "nothing written", Refused);
    case ApplyOutcome::PatchCorrupted:
        return reason(DamagedPatch, "download it again", Refused);
    case ApplyOutcome::ResultMismatch:
        return reason(ResultMismatch, "its CRC-32 differs; nothing written", Refused);
    case ApplyOutcome::FormatNotSupported:
        return reason(NotSupported, "this version does not apply patches of this format yet",
                      Refused);
    case ApplyOutcome::InputAtWrittenName:
        return reason(ErrorOpeningDestination,
                      "an input of this run sits at a name it writes; nothing written, "
                      "nothing moved: move that file elsewhere",
                      Refused);
    case ApplyOutcome::NameInTheWay:
        return reason(ErrorOpeningDestination,
                      "something that is not a plain file sits at a name this run writes; "
                      "nothing written, nothing moved: move it elsewhere",
                      Trouble);
    case ApplyOutcome::OutputIsAnInput:
        return reason(ErrorOpeningDestination,
                      "the output is the patch or the image itself; choose another name, or "
                      "leave out -o to patch the image in place",
                      Trouble);
    }
    return reason(ErrorOpeningDestination, "", Trouble);
}

Reason reasonFor(const ApplyResult &result) {
    // A version or encoding not read says which (APS's encoding keeps its
    // own text); a result refused says how it came out wrong.
    const bool unsupported = result.outcome == ApplyOutcome::UnsupportedEncoding &&
                             result.fault != PatchFault::OtherEncoding;
    const bool broken = result.outcome == ApplyOutcome::InvalidPatch ||
                        result.outcome == ApplyOutcome::PatchBreaksItsRules ||
                        result.outcome == ApplyOutcome::NotAnApsFile ||
                        result.outcome == ApplyOutcome::ResultMismatch || unsupported;
    if (!broken || result.fault == PatchFault::None || result.fault == PatchFault::RecordsBroken)
        return reasonFor(result.outcome);
    Reason why = reasonFor(result.outcome);
    why.detail = faultText(result.fault) + "; nothing written";
    return why;
}

Reason reasonFor(ConversionOutcome outcome) {
    switch (outcome) {
    case ConversionOutcome::Converted:
        return {};
    case ConversionOutcome::Missing:
        return reason(ErrorReadingFile, "missing, or not a plain file", Trouble);
    case ConversionOutcome::TooShort:
        return reason(ErrorReadingFile, "shorter than 2 bytes", Refused);
    case ConversionOutcome::NotWritable:
        return reason(ErrorReadingFile, "read-only, or cannot be written", Trouble);
    case ConversionOutcome::Failed:
        return reason(ErrorReadingFile, "writing failed; the file is unchanged", Trouble);
    case ConversionOutcome::AlreadyInOrder:
        return reason(ErrorReadingFile, "already in that order; nothing written", Refused);
    case ConversionOutcome::Unrecognised:
        return reason(ErrorReadingFile, "not an N64 image in a known byte order; nothing written",
                      Refused);
    case ConversionOutcome::Busy:
        return reason(ErrorReadingFile,
                      "another Tarnic is working on the image; nothing written, try again once "
                      "it is done",
                      Trouble);
    case ConversionOutcome::Changed:
        return reason(ErrorReadingFile,
                      "another program changed the image meanwhile; nothing written", Trouble);
    case ConversionOutcome::NameClash:
        return reason(ErrorReadingFile,
                      "a name this conversion writes is the image itself, or is held by "
                      "something that is not a plain file; nothing written, nothing moved",
                      Trouble);
    case ConversionOutcome::OutputIsTheImage:
        return reason(ErrorReadingFile,
                      "the output is the image itself; leave out -o to convert it in place",
                      Trouble);
    }
    return reason(ErrorReadingFile, "", Trouble);
}

Reason reasonFor(CreateOutcome outcome) {
    switch (outcome) {
    case CreateOutcome::Created:
        return {};
    case CreateOutcome::OriginalUnreadable:
    case CreateOutcome::ModifiedUnreadable:
        return reason("cannot be read", Trouble);
    case CreateOutcome::OriginalNotAnImage:
        return reason("not a cartridge-order or byte-swapped N64 image", Refused);
    case CreateOutcome::ModifiedShorter:
        return reason("shorter than the original; an APS patch cannot shorten an image", Refused);
    case CreateOutcome::ModifiedTooLarge:
        return reason("longer than 2 GiB, past what an APS record can address", Refused);
    case CreateOutcome::DescriptionTooLong:
        return reason("a description has at most 50 characters, each in ISO 8859-1", Trouble);
    case CreateOutcome::PatchIsAnInput:
        return reason("is one of the two images; choose another name for the patch", Trouble);
    case CreateOutcome::WriteFailed:
        return reason("cannot be written; an earlier file there is unchanged", Trouble);
    case CreateOutcome::TooLargeForFormat:
        return reason("past the 16 MiB an IPS patch can address; make a BPS patch instead",
                      Refused);
    }
    return reason("", Trouble);
}

Reason reasonFor(ChecksumOutcome outcome) {
    switch (outcome) {
    case ChecksumOutcome::Checked:
        return {};
    case ChecksumOutcome::CannotOpen:
        return reason("cannot be read", Trouble);
    case ChecksumOutcome::Unrecognised:
        return reason("not an N64 image in a known byte order", Refused);
    case ChecksumOutcome::TooShort:
        return reason("cannot be checked: the image is shorter than 1 MiB + 4 KiB", Refused);
    case ChecksumOutcome::UnknownBootCode:
        return reason("cannot be checked: unknown boot code (give --cic to check)", Refused);
    }
    return reason("", Trouble);
}

Reason reasonFor(ChecksumFixOutcome outcome) {
    switch (outcome) {
    case ChecksumFixOutcome::Written:
    case ChecksumFixOutcome::AlreadyValid:
    case ChecksumFixOutcome::NotChecked:
        return {};
    case ChecksumFixOutcome::WriteFailed:
        return reason("cannot be written; the image is unchanged", Trouble);
    case ChecksumFixOutcome::Busy:
        return reason("another Tarnic is working on the image; nothing written", Trouble);
    case ChecksumFixOutcome::Changed:
        return reason("another program changed the image meanwhile; nothing written", Trouble);
    case ChecksumFixOutcome::LeftUnsure:
        return reason("writing the checksum failed; the header reads as the new checksum, but "
                      "it may not have reached the disk: run fix-crc again",
                      Trouble);
    case ChecksumFixOutcome::LeftUnknown:
        return reason("writing the checksum failed, and its eight bytes at 0x10 could not be "
                      "read back as they were: check the image against a backup",
                      Trouble);
    }
    return reason("", Trouble);
}

} // namespace tarnic::text
