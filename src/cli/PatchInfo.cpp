#include "PatchInfo.h"
#include "files/PathText.h"

#include "Images.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "patch/aps/ApsFormat.h"
#include "patch/aps/ApsInspection.h"
#include "patch/bps/Bps.h"
#include "patch/ips/IpsFormat.h"
#include "patch/ppf/PpfFormat.h"
#include "patch/ups/Ups.h"

namespace tarnic::cli {

void printTexts(Console &console, const QString &heading, const Texts &texts) {
    console.out << heading << '\n';
    for (const auto &[caption, value] : texts)
        printLine(console, caption, value);
}

QJsonObject jsonTexts(const Texts &texts) {
    QJsonObject shown;
    for (const auto &[caption, value] : texts)
        shown.insert(text::captionName(caption), value);
    return shown;
}

int infoOfPatch(const QString &file, Console &console, bool json) {
    const ApsInspection inspection = inspectApsPatch(pathOf(file));
    if (inspection.outcome != InspectionOutcome::Shown)
        return fail(console, file, text::reasonFor(inspection.outcome));
    const PatchFileCheck records = checkApsFile(pathOf(file));
    const PatchDisplay &d = inspection.display;
    const PatchHeader &h = inspection.header;
    const Texts texts = {
        {text::PatchTypeCaption, d.PatchTypeTxT.value_or(QString())},
        {text::EncodeTypeCaption, d.EncodeMethodTxt.value_or(QString())},
        {text::NfoCaption, d.PatchNfo.value_or(QString())},
        {text::TargetFormatCaption, d.BackupType.value_or(QString())},
        {text::CartIdCaption, d.CartID.value_or(QString())},
        {text::CountryIdCaption, d.CountryID.value_or(QString())},
        {text::CrcCheckCaption, d.PTCRC.value_or(QString())},
    };
    const bool recordsValid = records.outcome == PatchFileOutcome::Valid;

    if (json) {
        QJsonObject raw{
            {QStringLiteral("patchType"), h.PatchType},
            {QStringLiteral("encoding"), h.EncodingMethod},
            {QStringLiteral("description"), h.Description},
            {QStringLiteral("headerSize"), recordStreamStart(h.PatchType)},
            {QStringLiteral("imageSize"), qint64(records.declaredImageSize)},
        };
        if (h.PatchType != kSimplePatchType) {
            raw.insert(QStringLiteral("targetFormat"), h.TargetFormat);
            raw.insert(QStringLiteral("cartId"), h.CartId);
            raw.insert(QStringLiteral("countryCode"), h.CountryCode);
            raw.insert(QStringLiteral("crc1"), hexText(h.Crc1));
            raw.insert(QStringLiteral("crc2"), hexText(h.Crc2));
        }
        if (recordsValid) {
            raw.insert(QStringLiteral("records"), records.records);
            raw.insert(QStringLiteral("bytesWritten"), records.bytesWritten);
        }
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("aps-patch")},
                            {QStringLiteral("texts"), jsonTexts(texts)},
                            {QStringLiteral("raw"), raw}});
    } else {
        printTexts(console, file + QStringLiteral(": APS patch"), texts);
        if (recordsValid) {
            printLine(console, QStringLiteral("Records"), QString::number(records.records));
            printLine(console, QStringLiteral("Bytes written"),
                      QString::number(records.bytesWritten));
        }
        printLine(console, QStringLiteral("Image size"),
                  QString::number(records.declaredImageSize));
    }
    if (!recordsValid)
        return fail(console, file, text::reasonFor(records.outcome).detail, Refused);
    return Success;
}

int infoOfBps(const QString &file, Console &console, bool json) {
    const BpsInspection bps = inspectBps(pathOf(file));
    switch (bps.outcome) {
    case BpsRead::Read:
        break;
    case BpsRead::Unreadable:
        return fail(console, file, QStringLiteral("cannot be read"), Trouble);
    case BpsRead::NotBps:
    case BpsRead::Truncated:
        return fail(console, file, QStringLiteral("a BPS patch cut short"), Refused);
    case BpsRead::Corrupted:
        return fail(console, file, text::DamagedPatch, Refused);
    }
    const BpsHeader &h = bps.header;
    const QString metadata = QString::fromUtf8(h.metadata);
    if (json) {
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("bps-patch")},
                            {QStringLiteral("raw"),
                             QJsonObject{{QStringLiteral("sourceSize"), jsonSize(h.sourceSize)},
                                         {QStringLiteral("targetSize"), jsonSize(h.targetSize)},
                                         {QStringLiteral("sourceCrc32"), crc32Text(h.sourceCrc)},
                                         {QStringLiteral("targetCrc32"), crc32Text(h.targetCrc)},
                                         {QStringLiteral("patchCrc32"), crc32Text(h.patchCrc)},
                                         {QStringLiteral("metadata"), metadata}}}});
        return Success;
    }
    printTexts(
        console, file + QStringLiteral(": BPS patch"),
        {{QStringLiteral("Source"),
          QStringLiteral("%1 bytes, CRC-32 %2").arg(h.sourceSize).arg(crc32Text(h.sourceCrc))},
         {QStringLiteral("Target"),
          QStringLiteral("%1 bytes, CRC-32 %2").arg(h.targetSize).arg(crc32Text(h.targetCrc))},
         {QStringLiteral("Metadata"), metadata}});
    return Success;
}

int infoOfUps(const QString &file, Console &console, bool json) {
    const UpsInspection ups = inspectUps(pathOf(file));
    if (ups.outcome != ApplyOutcome::Applied)
        return fail(console, file, text::reasonFor(ups.outcome));
    const UpsHeader &h = ups.header;
    if (json) {
        printJson(console,
                  {{QStringLiteral("file"), file},
                   {QStringLiteral("kind"), QStringLiteral("ups-patch")},
                   {QStringLiteral("raw"),
                    QJsonObject{{QStringLiteral("inputSize"), jsonSize(h.inputSize)},
                                {QStringLiteral("outputSize"), jsonSize(h.outputSize)},
                                {QStringLiteral("inputCrc32"), crc32Text(h.inputCrc)},
                                {QStringLiteral("outputCrc32"), crc32Text(h.outputCrc)}}}});
        return Success;
    }
    const auto sized = [](std::uint64_t size, std::uint32_t crc) {
        return QStringLiteral("%1 bytes, CRC-32 %2").arg(size).arg(crc32Text(crc));
    };
    printTexts(console, file + QStringLiteral(": UPS patch"),
               {{QStringLiteral("Source"), sized(h.inputSize, h.inputCrc)},
                {QStringLiteral("Target"), sized(h.outputSize, h.outputCrc)}});
    return Success;
}

int infoOfPpf(const QString &file, Console &console, bool json) {
    const QString description = patchDescription(pathOf(file), PatchFormat::Ppf);
    QFile patch;
    if (!openRegularFile(patch, pathOf(file)))
        return fail(console, file, QStringLiteral("cannot be read"), Trouble);
    const PpfLayout layout = readPpfLayout(patch);
    if (layout.version == 0)
        return fail(console, file, text::reasonFor(PatchFileOutcome::Truncated).line(), Refused);
    const bool blockCheck = !layout.blockCheck.isEmpty();
    if (json) {
        QJsonObject raw{{QStringLiteral("version"), layout.version},
                        {QStringLiteral("description"), description},
                        {QStringLiteral("blockCheckAt"),
                         blockCheck ? QJsonValue(layout.blockCheckAt) : QJsonValue()}};
        if (layout.imageSize)
            raw.insert(QStringLiteral("imageSize"), qint64(*layout.imageSize));
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("ppf-patch")},
                            {QStringLiteral("raw"), raw}});
        return Success;
    }
    Texts lines{{text::NfoCaption, description},
                {QStringLiteral("Block check"),
                 blockCheck ? QStringLiteral("1024 bytes at 0x%1")
                                  .arg(QString::number(layout.blockCheckAt, 16).toUpper())
                            : QStringLiteral("none")}};
    if (layout.imageSize)
        lines.emplace_back(QStringLiteral("Image size"),
                           QStringLiteral("%1 bytes").arg(*layout.imageSize));
    printTexts(console, file + QStringLiteral(": PPF%1 patch").arg(layout.version), lines);
    return Success;
}

int infoOfIps(const QString &file, Console &console, bool json) {
    const PatchFileCheck ips = checkIpsFile(pathOf(file));
    if (ips.outcome != PatchFileOutcome::Valid)
        return fail(console, file,
                    ips.outcome == PatchFileOutcome::Unreadable
                        ? QStringLiteral("cannot be read")
                        : QStringLiteral("an IPS patch cut short, or one that breaks its rules"),
                    ips.outcome == PatchFileOutcome::Unreadable ? Trouble : Refused);
    if (json) {
        QJsonObject raw{{QStringLiteral("records"), ips.records},
                        {QStringLiteral("bytesWritten"), ips.bytesWritten}};
        if (ips.truncation)
            raw.insert(QStringLiteral("resultLength"), *ips.truncation);
        printJson(console, {{QStringLiteral("file"), file},
                            {QStringLiteral("kind"), QStringLiteral("ips-patch")},
                            {QStringLiteral("raw"), raw}});
        return Success;
    }
    printTexts(console, file + QStringLiteral(": IPS patch"),
               {{QStringLiteral("Records"), QString::number(ips.records)},
                {QStringLiteral("Bytes written"), QString::number(ips.bytesWritten)},
                {QStringLiteral("Result length"),
                 ips.truncation ? QString::number(*ips.truncation)
                                : QStringLiteral("as the image, or as far as a record reaches")}});
    return Success;
}

} // namespace tarnic::cli
