#pragma once
// The program's fixed texts: the captions of the shown fields, the messages,
// and which outcome shows which message. The window and the command line both
// take them from here, so they never disagree.

#include "patch/PatchApplication.h"
#include "patch/PatchInspection.h"
#include "rom/ByteOrderConversion.h"

#include <QString>

#include <optional>

namespace tarnic {
inline constexpr char kProgramVersion[] = "1.0a";
inline constexpr char kProgramTitle[] = "Tarnic 1.0a";
} // namespace tarnic

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
inline const QString MatchQuestionTitle = QStringLiteral("MatchCheck");
inline const QString MatchQuestion = QStringLiteral(
    "One Or More Values In The APS Does Not Match The Rom File  /n    Continue AnyWay ?");

inline std::optional<QString> messageFor(InspectionOutcome outcome) {
    switch (outcome) {
    case InspectionOutcome::Shown:
        return std::nullopt;
    case InspectionOutcome::CannotOpen:
        return ErrorOpeningFile;
    case InspectionOutcome::NotAnApsFile:
        return NotAnApsFile;
    case InspectionOutcome::UnsupportedEncoding:
        return NotSupported;
    case InspectionOutcome::ReadFailed:
        return ErrorOpeningFile;
    }
    return ErrorOpeningFile;
}

inline std::optional<QString> messageFor(ApplyOutcome outcome) {
    switch (outcome) {
    case ApplyOutcome::Applied:
    case ApplyOutcome::Declined:
        return std::nullopt;
    case ApplyOutcome::SourceUnreadable:
    case ApplyOutcome::SourceTruncated:
        return ErrorOpeningSource;
    case ApplyOutcome::NotAnApsFile:
        return NotAnApsFile;
    case ApplyOutcome::UnsupportedEncoding:
        return NotSupported;
    case ApplyOutcome::DestinationUnwritable:
    case ApplyOutcome::InvalidPatch:
    case ApplyOutcome::BackupFailed:
    case ApplyOutcome::WriteFailed:
        return ErrorOpeningDestination;
    }
    return ErrorOpeningDestination;
}

inline std::optional<QString> messageFor(ConversionOutcome outcome) {
    switch (outcome) {
    case ConversionOutcome::Converted:
        return std::nullopt;
    case ConversionOutcome::Missing:
    case ConversionOutcome::TooShort:
    case ConversionOutcome::NotWritable:
    case ConversionOutcome::Failed:
    case ConversionOutcome::AlreadyInOrder:
    case ConversionOutcome::Unrecognised:
    case ConversionOutcome::NotWholeWords:
        return ErrorReadingFile;
    }
    return ErrorReadingFile;
}

} // namespace tarnic::text
