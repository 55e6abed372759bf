// tarnic-cli info FILE...: what the window shows of each patch or image, and an
// image's header checksum; the worst status of all the files.

#include "Command.h"
#include "Images.h"
#include "PatchInfo.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "qt/PathText.h"
#include "rom/ByteOrderConversion.h"
#include "rom/ImageDigests.h"

#include <cstring>

namespace tarnic::cli {

namespace {

QString checksumLine(const ChecksumReport &report) {
    const std::string kind = report.used ? " (CIC " + bootCodeName(*report.used) + ")" : "";
    if (report.outcome != ChecksumOutcome::Checked)
        return fromEngine(text::reasonFor(report.outcome).detail);
    if (report.valid())
        return fromEngine("valid" + kind);
    return fromEngine("wrong: header has " + checksumText(report.stored) + ", should be " +
                      checksumText(report.computed) + kind);
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

int infoOfImage(const QString &file, const HeaderBytes &bytes, Console &console, bool json,
                std::optional<BootCode> kind) {
    const ByteOrder order = byteOrderOf(bytes);
    if (order == ByteOrder::Unknown) {
        // A patch of a format that is not read says so.
        if (const PatchSummary patch = inspectPatchFile(pathOf(file), ReadDepth::Header);
            patch.fault != PatchFault::None)
            return fail(console, file, text::reasonFor(patch));
        return fail(console, file,
                    QStringLiteral("neither an APS patch nor an N64 image in a known byte order"),
                    Refused);
    }
    const ImageInspection image = inspectHeader(bytes);
    const ImageDisplay &d = image.display;
    const QString format =
        order == ByteOrder::LittleEndian
            ? QStringLiteral("little-endian (.n64); convert with: tarnic-cli convert --to z64 ") +
                  file
            : fromEngine(d.RomFormatTxt);
    const ChecksumReport checksum = checkChecksum(pathOf(file), kind);
    const ImageDigests digests = digestsOf(pathOf(file), order);
    const auto both = [&](const QString &stored, const QString &z64) {
        return stored == z64 ? stored : stored + QStringLiteral(" (in z64 order ") + z64 + u')';
    };
    const Texts texts = {
        {text::ImageFormatCaption, format},
        {text::RomHeaderCaption, fromEngine(d.RomHeaderTxT)},
        {text::CartIdCaption, fromEngine(d.RomCartIDTxT)},
        {text::CountryIdCaption, fromEngine(d.RomCountryTxt)},
        {text::CrcCheckCaption, fromEngine(d.RomCRCTxt)},
        {"Checksum", checksumLine(checksum)},
        {"CRC-32", both(crc32Text(digests.stored.crc32), crc32Text(digests.cartridgeOrder.crc32))},
        {"MD5", both(fromEngine(hexOf(digests.stored.md5)),
                     fromEngine(hexOf(digests.cartridgeOrder.md5)))},
        {"SHA-1", both(fromEngine(hexOf(digests.stored.sha1)),
                       fromEngine(hexOf(digests.cartridgeOrder.sha1)))},
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
        {QStringLiteral("crc1"),
         fromEngine(hexText(toCartridgeOrder(image.header.Crc1, image.order)))},
        {QStringLiteral("crc2"),
         fromEngine(hexText(toCartridgeOrder(image.header.Crc2, image.order)))},
        {QStringLiteral("cartId"), fromEngine(image.header.CartId)},
        {QStringLiteral("countryCode"), image.header.CountryCode},
        {QStringLiteral("checksum"), QLatin1String(checksumStatus(checksum))},
    };
    if (checksum.used)
        raw.insert(QStringLiteral("cic"), fromEngine(bootCodeName(*checksum.used)));
    if (checksum.outcome == ChecksumOutcome::Checked)
        raw.insert(QStringLiteral("computedCrc"), fromEngine(checksumText(checksum.computed)));
    for (const auto &[name, digest] : {std::pair{QStringLiteral("stored"), digests.stored},
                                       std::pair{QStringLiteral("z64"), digests.cartridgeOrder}})
        raw.insert(name, QJsonObject{{QStringLiteral("crc32"), crc32Text(digest.crc32)},
                                     {QStringLiteral("md5"), fromEngine(hexOf(digest.md5))},
                                     {QStringLiteral("sha1"), fromEngine(hexOf(digest.sha1))}});
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
        if (!readHeaderBytes(pathOf(file), bytes))
            result = fail(console, file, QStringLiteral("cannot be read"), Trouble);
        else
            result = recognised(recognisePatch(std::string(
                         reinterpret_cast<const char *>(bytes.data()), kPatchMagicSize)))
                         ? infoOfPatch(file, console, json)
                         : infoOfImage(file, bytes, console, json, kind);
        status = std::max(status, result);
    }
    return status;
}

const RegisterCommand registration({
    "info",
    "FILE...",
    "Shows each patch's header ({applied}), or an N64 image's as the window shows it, with its "
    "checksum.",
    10,
    runInfo,
});

} // namespace

} // namespace tarnic::cli
