// tarnic-cli info FILE...: what the window shows of each patch or image, and an
// image's header checksum; the worst status of all the files.

#include "Command.h"
#include "Images.h"
#include "patch/PatchApplication.h"
#include "patch/PatchInspection.h"
#include "rom/ByteOrderConversion.h"

#include <cstring>

namespace tarnic::cli {

namespace {

using Texts = std::vector<std::pair<QString, QString>>;

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
    const PatchInspection inspection = inspectPatch(file);
    if (inspection.outcome != InspectionOutcome::Shown)
        return fail(console, file, text::reasonFor(inspection.outcome));
    const PatchFileCheck records = checkPatchFile(file);
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

QString checksumLine(const ChecksumReport &report) {
    const QString kind =
        report.used ? QStringLiteral(" (CIC %1)").arg(bootCodeName(*report.used)) : QString();
    if (report.outcome != ChecksumOutcome::Checked)
        return text::reasonFor(report.outcome).detail;
    if (report.valid())
        return QStringLiteral("valid") + kind;
    return QStringLiteral("wrong: header has %1, should be %2")
               .arg(checksumText(report.stored), checksumText(report.computed)) +
           kind;
}

const char *checksumStatus(const ChecksumReport &report) {
    switch (report.outcome) {
    case ChecksumOutcome::Checked:
        return report.valid() ? "valid" : "wrong";
    case ChecksumOutcome::UnknownBootCode:
        return "unknown-boot-code";
    case ChecksumOutcome::TooShort:
        return "too-short";
    case ChecksumOutcome::Unrecognised:
    case ChecksumOutcome::CannotOpen:
        break;
    }
    return "unreadable";
}

// The image's header as the window shows it; a little-endian image is read in
// cartridge order, with its own format text.
ImageInspection inspectAnyOrder(const HeaderBytes &bytes, ByteOrder order) {
    HeaderBytes view = bytes;
    reorderBytes(reinterpret_cast<char *>(view.data()), qint64(view.size()), order,
                 order == ByteOrder::LittleEndian ? ByteOrder::Cartridge : order);
    return inspectHeader(view);
}

int infoOfImage(const QString &file, const HeaderBytes &bytes, Console &console, bool json,
                std::optional<BootCode> kind) {
    const ByteOrder order = byteOrderOf(bytes);
    if (order == ByteOrder::Unknown)
        return fail(console, file,
                    QStringLiteral("neither an APS patch nor an N64 image in a known byte order"),
                    Refused);
    const ImageInspection image = inspectAnyOrder(bytes, order);
    const ImageDisplay &d = image.display;
    const QString format =
        order == ByteOrder::LittleEndian
            ? QStringLiteral("little-endian (.n64); convert with: tarnic-cli convert --to z64 ") +
                  file
            : d.RomFormatTxt;
    const ChecksumReport checksum = checkChecksum(file, kind);
    const Texts texts = {
        {text::ImageFormatCaption, format},    {text::RomHeaderCaption, d.RomHeaderTxT},
        {text::CartIdCaption, d.RomCartIDTxT}, {text::CountryIdCaption, d.RomCountryTxt},
        {text::CrcCheckCaption, d.RomCRCTxt},  {QStringLiteral("Checksum"), checksumLine(checksum)},
    };
    if (!json) {
        printTexts(console, file + QStringLiteral(": N64 image"), texts);
        return Success;
    }
    QJsonObject raw{
        {QStringLiteral("byteOrder"), shortName(order)},
        {QStringLiteral("signature"),
         QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()), 4).toHex())
             .toUpper()},
        {QStringLiteral("crc1"), hexText(toCartridgeOrder(image.header.Crc1, image.order))},
        {QStringLiteral("crc2"), hexText(toCartridgeOrder(image.header.Crc2, image.order))},
        {QStringLiteral("cartId"), image.header.CartId},
        {QStringLiteral("countryCode"), image.header.CountryCode},
        {QStringLiteral("checksum"), QLatin1String(checksumStatus(checksum))},
    };
    if (checksum.used)
        raw.insert(QStringLiteral("cic"), bootCodeName(*checksum.used));
    if (checksum.outcome == ChecksumOutcome::Checked)
        raw.insert(QStringLiteral("computedCrc"), checksumText(checksum.computed));
    printJson(console, {{QStringLiteral("file"), file},
                        {QStringLiteral("kind"), QStringLiteral("n64-image")},
                        {QStringLiteral("texts"), jsonTexts(texts)},
                        {QStringLiteral("raw"), raw}});
    return Success;
}

int runInfo(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("One JSON object a file, a line each: the "
                                                       "texts as shown, padding kept, and the raw "
                                                       "values."));
    command.parser().addOptions({jsonOption, cicOption()});
    if (const auto done = command.parse(arguments, console, 1))
        return *done;
    std::optional<BootCode> kind;
    if (!bootCodeOption(command, kind))
        return fail(console, command.value(cicOption()), QStringLiteral("not a boot-code kind"),
                    Trouble);
    const bool json = command.isSet(jsonOption);
    int status = Success;
    for (const QString &file : command.files()) {
        HeaderBytes bytes;
        int result;
        if (!readHeaderBytes(file, bytes))
            result = fail(console, file, QStringLiteral("cannot be read"), Trouble);
        else if (std::memcmp(bytes.data(), kApsMagic, kMagicSize) == 0)
            result = infoOfPatch(file, console, json);
        else
            result = infoOfImage(file, bytes, console, json, kind);
        status = std::max(status, result);
    }
    return status;
}

const RegisterCommand registration({
    "info",
    "FILE...",
    "Shows what the window shows of each APS patch or N64 image, and an image's checksum.",
    10,
    runInfo,
});

} // namespace

} // namespace tarnic::cli
