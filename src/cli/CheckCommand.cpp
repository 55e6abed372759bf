// tarnic-cli check PATCH IMAGE: the four pairs the window colours, or what a
// patch of another format checks itself; exit status 0 when the patch fits.

#include "Command.h"
#include "Images.h"
#include "PairCheck.h"
#include "files/PathText.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "patch/ppf/PpfFormat.h"

#include <QFile>
#include <QFileInfo>

namespace tarnic::cli {

namespace {

// A patch that names its source (BPS, UPS) fits an image that is that source
// in some byte order.
int checkNamedSource(const QString &patchFile, PatchFormat format, const QString &imageFile,
                     Console &console) {
    ApplyOutcome why = ApplyOutcome::Applied;
    const std::optional<NamedSource> source =
        namedSourceOf(pathOf(patchFile), format, why, PatchCrcCheck::Whole);
    if (!source)
        return fail(console, patchFile, text::reasonFor(why));
    if (!QFileInfo(imageFile).isFile())
        return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
    if (const std::optional<ByteOrder> order = sourceOrder(*source, pathOf(imageFile))) {
        console.out << "Source CRC-32: match (" << crc32Text(source->crc) << ", the image read as "
                    << shortName(*order) << ")\n";
        return Success;
    }
    console.out << "Source CRC-32: differs (the patch's source has " << crc32Text(source->crc)
                << " in " << source->size << " bytes; the image is not it in any byte order)\n";
    return Refused;
}

// A PPF patch with a block check fits an image that holds its bytes (and, for
// PPF2, has its size) in the image's own byte order.
int checkPpfBlock(const QString &patchFile, const QString &imageFile, Console &console) {
    QFile patch;
    if (!openRegularFile(patch, pathOf(patchFile)))
        return fail(console, patchFile, QStringLiteral("cannot be read"), Trouble);
    const PpfLayout layout = readPpfLayout(patch);
    const PpfImageCheck check = checkPpfImage(layout, pathOf(imageFile));
    console.out << "Block check: ";
    switch (check.fit) {
    case PpfImageFit::NoCheck:
    case PpfImageFit::Fits:
        console.out << "match\n";
        return Success;
    case PpfImageFit::OtherOrder:
        console.out << "differs; the image matches read as " << shortName(check.order)
                    << " (convert it first with: tarnic-cli convert --to " << shortName(check.order)
                    << ' ' << imageFile << ")\n";
        return Refused;
    case PpfImageFit::Differs:
        console.out << "differs (the image's size or its bytes at 0x"
                    << QString::number(layout.blockCheckAt, 16).toUpper()
                    << " are not the patch's in any byte order)\n";
        return Refused;
    case PpfImageFit::Unreadable:
        break;
    }
    return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
}

int runCheck(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const PatchFormat format = recognisePatchFile(pathOf(command.files()[0]));
    if (infoOf(format).namesItsSource && infoOf(format).applies())
        return checkNamedSource(command.files()[0], format, command.files()[1], console);
    if (format == PatchFormat::Ppf && checksItsImage(pathOf(command.files()[0]), format))
        return checkPpfBlock(command.files()[0], command.files()[1], console);
    // Only an APS patch names its image by the pairs; any other that checks
    // nothing has nothing to be checked against.
    if (format != PatchFormat::Aps && format != PatchFormat::Unknown && !infoOf(format).applies())
        return fail(console, command.files()[0], text::reasonFor(ApplyOutcome::FormatNotSupported));
    if (format != PatchFormat::Aps && format != PatchFormat::Unknown)
        return fail(console, command.files()[0],
                    QStringLiteral("%1 patch does not say which image it was made for, so there "
                                   "is nothing to check it against; apply it with --force once "
                                   "you are sure of the image")
                        .arg(text::withArticle(QLatin1String(infoOf(format).name))),
                    Refused);
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
    "source's CRC-32 in some byte order (BPS, UPS), or the block check (PPF).",
    20,
    runCheck,
});

} // namespace

} // namespace tarnic::cli
