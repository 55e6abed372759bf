#pragma once
// The program's fixed texts: the captions of the shown fields, the messages,
// and the one table of what each outcome tells the user. The window and the
// command line both take them from here, so they never disagree.

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"
#include "patch/aps/ApsInspection.h"
#include "rom/ByteOrderConversion.h"
#include "rom/Checksum.h"
#include "texts/BuildInfo.h"

#include <string>

#include <optional>

namespace tarnic::text {

// Captions of the patch side, then of the image side ("CRC Check", "Cart-ID"
// and "Country ID" are on both).
inline const std::string PatchTypeCaption = std::string("Patch Type");
inline const std::string EncodeTypeCaption = std::string("EncodeType");
inline const std::string NfoCaption = std::string("NFo :");
inline const std::string TargetFormatCaption = std::string("Target Format");
inline const std::string CartIdCaption = std::string("Cart-ID");
inline const std::string CountryIdCaption = std::string("Country ID");
inline const std::string CrcCheckCaption = std::string("CRC Check");
inline const std::string RomHeaderCaption = std::string("Rom Header");
inline const std::string ImageFormatCaption = std::string("Image Format");

// A caption as the name of what it labels: "NFo :" names "NFo".
inline std::string captionName(const std::string &caption) {
    return caption.ends_with(" :") ? caption.substr(0, caption.size() - 2) : caption;
}

inline const std::string ErrorOpeningFile = std::string("Error Openning File");
inline const std::string NotAnApsFile = std::string("Not An APS File");
inline const std::string NotSupported = std::string("Not Supported In This Version");
inline const std::string ErrorOpeningSource = std::string("Error Openning Source File:");
inline const std::string ErrorOpeningDestination = std::string("Error Openning Destination File:");
inline const std::string ErrorReadingFile = std::string("Error Reading File");
inline const std::string ErrorWritingIni = std::string("Error Writing To .Ini File");
// Patches that name their source by CRC-32 (BPS).
inline const std::string WrongRom = std::string("This Rom Is Not The One The Patch Was Made For");
inline const std::string AlreadyPatched = std::string("This Rom Is Already Patched");
inline const std::string DamagedPatch = std::string("The Patch Is Damaged (Its CRC-32 Is Wrong)");
inline const std::string ResultMismatch = std::string("The Patched Rom Would Not Match The Patch");
// The image was patched, but the backup asked for could not be put in its
// place; the old image waits beside it, and the next run puts it there.
inline const std::string BackupNotInPlace =
    std::string("The Rom Is Patched, But Its Backup Could Not Be Put In Place. The Rom As It "
                "Was Is Kept As:");
inline const std::string OtherByteOrder =
    std::string("This Rom Is In Another Byte Order: Change Its Format First");
// What the patch side shows of formats other than APS: "<name> Patch", and
// how the patch proves its result.
inline const std::string CheckedEncoding = std::string("CRC-32 Checked");
inline const std::string BlockCheckedEncoding = std::string("Block Checked");
inline const std::string ResultCheckedEncoding = std::string("Adler-32 Checked");
inline const std::string UncheckedEncoding = std::string("No Source Check");
inline const std::string UnsupportedEncoding = std::string("Not Supported In This Version");
inline const std::string MatchQuestionTitle = std::string("MatchCheck");
// The name of a byte order as the window shows it ("Doctor v64"), or
// "little-endian".
std::string orderName(ByteOrder order);
// Asked before a patch that names no byte order is written into an image that
// is not in cartridge order; `imageOrder` is the image's, as the window names it.
std::string byteOrderQuestion(const std::string &imageOrder);
// The same as one line, for the command line.
std::string byteOrderRefusal(const std::string &imageOrder, const std::string &remedy);
inline const std::string MatchQuestion = std::string(
    "One Or More Values In The APS Does Not Match The Rom File  /n    Continue AnyWay ?");

// A format's name with its article, as it is said: "an APS", "a BPS", "a UPS",
// "an IPS", "an xdelta (VCDIFF)".
std::string withArticle(const std::string &formatName);
// A count with its noun: "1 record", "2 records".
std::string countOf(std::int64_t count, const std::string &noun);

// How an operation ended, as the user is told. The window shows `message`
// (none: nothing to show); the command line prints the message, when there is
// one, then `detail`, and ends with the status that `severity` gives.
enum class Severity {
    None,    // success, or nothing to report
    Refused, // bad input, or the patch does not fit: nothing written
    Trouble, // a file could not be read or written
};

struct Reason {
    std::optional<std::string> message;
    std::string detail;
    Severity severity = Severity::None;

    // The message and the detail as one line: "Error Reading File: ...".
    std::string line() const;
};

Reason reasonFor(InspectionOutcome outcome);
// Why a patch does not read, in its format's words where they say more.
Reason reasonFor(const PatchSummary &patch);
Reason reasonFor(PatchFileOutcome outcome);
Reason reasonFor(ApplyOutcome outcome);
// The same, naming what is wrong with a patch refused as breaking its rules.
Reason reasonFor(const ApplyResult &result);
Reason reasonFor(ConversionOutcome outcome);
Reason reasonFor(CreateOutcome outcome);
Reason reasonFor(ChecksumOutcome outcome);
Reason reasonFor(ChecksumFixOutcome outcome);

// What is wrong with a patch, in its format's terms.
std::string faultText(PatchFault fault);

// The window's message for an outcome; none where it shows nothing.
template <typename Outcome> std::optional<std::string> messageFor(const Outcome &outcome) {
    return reasonFor(outcome).message;
}

} // namespace tarnic::text
