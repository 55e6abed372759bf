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

#include <QString>

#include <optional>

namespace tarnic::text {

// Captions of the patch side, then of the image side ("CRC Check", "Cart-ID"
// and "Country ID" are on both).
inline const QString PatchTypeCaption = QStringLiteral("Patch Type");
inline const QString EncodeTypeCaption = QStringLiteral("EncodeType");
inline const QString NfoCaption = QStringLiteral("NFo :");
inline const QString TargetFormatCaption = QStringLiteral("Target Format");
inline const QString CartIdCaption = QStringLiteral("Cart-ID");
inline const QString CountryIdCaption = QStringLiteral("Country ID");
inline const QString CrcCheckCaption = QStringLiteral("CRC Check");
inline const QString RomHeaderCaption = QStringLiteral("Rom Header");
inline const QString ImageFormatCaption = QStringLiteral("Image Format");

// A caption as the name of what it labels: "NFo :" names "NFo".
inline QString captionName(const QString &caption) {
    return caption.endsWith(QLatin1String(" :")) ? caption.chopped(2) : caption;
}

inline const QString ErrorOpeningFile = QStringLiteral("Error Openning File");
inline const QString NotAnApsFile = QStringLiteral("Not An APS File");
inline const QString NotSupported = QStringLiteral("Not Supported In This Version");
inline const QString ErrorOpeningSource = QStringLiteral("Error Openning Source File:");
inline const QString ErrorOpeningDestination = QStringLiteral("Error Openning Destination File:");
inline const QString ErrorReadingFile = QStringLiteral("Error Reading File");
inline const QString ErrorWritingIni = QStringLiteral("Error Writing To .Ini File");
// Patches that name their source by CRC-32 (BPS).
inline const QString WrongRom = QStringLiteral("This Rom Is Not The One The Patch Was Made For");
inline const QString AlreadyPatched = QStringLiteral("This Rom Is Already Patched");
inline const QString DamagedPatch = QStringLiteral("The Patch Is Damaged (Its CRC-32 Is Wrong)");
inline const QString ResultMismatch = QStringLiteral("The Patched Rom Would Not Match The Patch");
// The image was patched, but the backup asked for could not be put in its
// place; the old image waits beside it, and the next run puts it there.
inline const QString BackupNotInPlace =
    QStringLiteral("The Rom Is Patched, But Its Backup Could Not Be Put In Place. The Rom As It "
                   "Was Is Kept As:");
inline const QString OtherByteOrder =
    QStringLiteral("This Rom Is In Another Byte Order: Change Its Format First");
// What the patch side shows of formats other than APS: "<name> Patch", and
// how the patch proves its result.
inline const QString CheckedEncoding = QStringLiteral("CRC-32 Checked");
inline const QString BlockCheckedEncoding = QStringLiteral("Block Checked");
inline const QString UncheckedEncoding = QStringLiteral("No Source Check");
inline const QString UnsupportedEncoding = QStringLiteral("Not Supported In This Version");
inline const QString MatchQuestionTitle = QStringLiteral("MatchCheck");
// The name of a byte order as the window shows it ("Doctor v64"), or
// "little-endian".
QString orderName(ByteOrder order);
// Asked before a patch that names no byte order is written into an image that
// is not in cartridge order; `imageOrder` is the image's, as the window names it.
QString byteOrderQuestion(const QString &imageOrder);
// The same as one line, for the command line.
QString byteOrderRefusal(const QString &imageOrder, const QString &remedy);
inline const QString MatchQuestion = QStringLiteral(
    "One Or More Values In The APS Does Not Match The Rom File  /n    Continue AnyWay ?");

// A format's name with its article, as it is said: "an APS", "a BPS", "a UPS",
// "an IPS", "an xdelta (VCDIFF)".
QString withArticle(const QString &formatName);
// A count with its noun: "1 record", "2 records".
QString countOf(qint64 count, const QString &noun);

// How an operation ended, as the user is told. The window shows `message`
// (none: nothing to show); the command line prints the message, when there is
// one, then `detail`, and ends with the status that `severity` gives.
enum class Severity {
    None,    // success, or nothing to report
    Refused, // bad input, or the patch does not fit: nothing written
    Trouble, // a file could not be read or written
};

struct Reason {
    std::optional<QString> message;
    QString detail;
    Severity severity = Severity::None;

    // The message and the detail as one line: "Error Reading File: ...".
    QString line() const;
};

Reason reasonFor(InspectionOutcome outcome);
// Why a patch does not read, in its format's words where they say more.
Reason reasonFor(const PatchSummary &patch);
Reason reasonFor(PatchFileOutcome outcome);
Reason reasonFor(ApplyOutcome outcome);
Reason reasonFor(ConversionOutcome outcome);
Reason reasonFor(CreateOutcome outcome);
Reason reasonFor(ChecksumOutcome outcome);
Reason reasonFor(ChecksumFixOutcome outcome);

// The window's message for an outcome; none where it shows nothing.
template <typename Outcome> std::optional<QString> messageFor(const Outcome &outcome) {
    return reasonFor(outcome).message;
}

} // namespace tarnic::text
