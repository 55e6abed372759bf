// tarnic-cli check PATCH IMAGE: the four pairs the window colours; exit status
// 0 when all four match.

#include "Command.h"
#include "Images.h"
#include "PairCheck.h"
#include "files/SafeWrite.h"
#include "patch/Bps.h"
#include "patch/PatchFormat.h"

namespace tarnic::cli {

namespace {

// A BPS patch fits an image that is its source in some byte order.
int checkBps(const QString &patchFile, const QString &imageFile, Console &console) {
    const BpsInspection bps = inspectBps(patchFile);
    if (bps.outcome != BpsRead::Read)
        return fail(console, patchFile,
                    bps.outcome == BpsRead::Corrupted ? text::DamagedPatch
                                                      : QStringLiteral("not a whole BPS patch"),
                    Refused);
    HeaderBytes head;
    QFile image;
    if (!readHeaderBytes(imageFile, head) || !openRegularFile(image, imageFile))
        return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
    const bool sizeFits = std::uint64_t(image.size()) == bps.header.sourceSize;
    const auto isSource = [&](std::uint32_t crc) {
        return sizeFits && crc == bps.header.sourceCrc;
    };
    for (const OrderedCrc &crc : imageCrcs(image, byteOrderOf(head), isSource)) {
        if (sizeFits && crc.crc == bps.header.sourceCrc) {
            console.out << "Source CRC-32: match (" << crc32Text(crc.crc) << ", the image read as "
                        << shortName(crc.order) << ")\n";
            return Success;
        }
    }
    console.out << "Source CRC-32: differs (the patch's source has "
                << crc32Text(bps.header.sourceCrc) << " in " << bps.header.sourceSize
                << " bytes; the image is not it in any byte order)\n";
    return Refused;
}

int runCheck(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    if (recognisePatchFile(command.files()[0]) == PatchFormat::Bps)
        return checkBps(command.files()[0], command.files()[1], console);
    const auto compared = comparePatchAndImage(command.files()[0], command.files()[1], console);
    if (const int *status = std::get_if<int>(&compared))
        return *status;
    const PairCheck &check = std::get<PairCheck>(compared);
    for (int i = 0; i < kMatchPairCount; ++i) {
        console.out << pairCaption(i) << ": ";
        if (check.equal[i])
            console.out << "match\n";
        else
            console.out << "differs (image \"" << check.image[i] << "\", patch \"" << check.patch[i]
                        << "\")\n";
    }
    return allPairsEqual(check.equal) ? Success : Refused;
}

const RegisterCommand registration({
    "check",
    "PATCH IMAGE",
    "Exit status 0 when PATCH fits IMAGE: the four pairs the window colours (APS), or the "
    "source's CRC-32 in some byte order (BPS).",
    20,
    runCheck,
});

} // namespace

} // namespace tarnic::cli
