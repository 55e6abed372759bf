// tarnic-cli check PATCH IMAGE: the four pairs the window colours, or what a
// patch of another format checks itself; exit status 0 when the patch fits.

#include "Command.h"
#include "Images.h"
#include "PairCheck.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "qt/PathText.h"

#include <QFileInfo>

namespace tarnic::cli {

namespace {

// A patch that names its source by CRC-32 fits an image that is that source
// in some byte order.
int checkNamedSource(const NamedSource &source, const QString &imageFile, Console &console) {
    if (!QFileInfo(imageFile).isFile())
        return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
    if (const std::optional<ByteOrder> order = sourceOrder(source, pathOf(imageFile))) {
        console.out << "Source CRC-32: match (" << crc32Text(source.crc) << ", the image read as "
                    << shortName(*order) << ")\n";
        return Success;
    }
    console.out << "Source CRC-32: differs (the patch's source has " << crc32Text(source.crc)
                << " in " << source.size << " bytes; the image is not it in any byte order)\n";
    return Refused;
}

// A patch that carries checksums of its result fits an image from which it
// makes the result those checksums describe, in some byte order.
int checkResultChecksums(const PatchSummary &patch, const QString &patchFile,
                         const QString &imageFile, Console &console) {
    if (!QFileInfo(imageFile).isFile())
        return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
    if (const auto order = provenSourceOrder(patch, pathOf(patchFile), pathOf(imageFile))) {
        console.out << "Source: match (what the patch makes of the image has the checksum it "
                       "carries, the image read as "
                    << shortName(*order) << ")\n";
        return Success;
    }
    console.out << "Source: differs (what the patch makes of the image does not have the "
                   "checksum it carries, in any byte order)\n";
    return Refused;
}

// A patch with a block check fits an image that holds its bytes (and size,
// where it gives one) in the image's own byte order.
int checkImageBlock(const PatchSummary &patch, const QString &patchFile, const QString &imageFile,
                    Console &console) {
    const ImageBlockCheck check =
        infoOf(patch.format).checkBlock(pathOf(patchFile), pathOf(imageFile));
    console.out << "Block check: ";
    switch (check.fit) {
    case ImageBlockFit::NoCheck:
    case ImageBlockFit::Fits:
        console.out << "match\n";
        return Success;
    case ImageBlockFit::OtherOrder:
        console.out << "differs; the image matches read as " << shortName(check.order)
                    << " (convert it first with: tarnic-cli convert --to " << shortName(check.order)
                    << ' ' << imageFile << ")\n";
        return Refused;
    case ImageBlockFit::Differs:
        console.out << "differs (the image's size or its bytes at 0x"
                    << QString::number(patch.blockCheckAt.value_or(0), 16).toUpper()
                    << " are not the patch's in any byte order)\n";
        return Refused;
    case ImageBlockFit::Unreadable:
        break;
    }
    return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
}

int runCheck(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const QString &patchFile = command.files()[0];
    const QString &imageFile = command.files()[1];
    const PatchSummary patch = inspectPatchFile(pathOf(patchFile), ReadDepth::Whole);
    if (!infoOf(patch.format).applies())
        return fail(console, patchFile, text::reasonFor(ApplyOutcome::FormatNotSupported));
    if (!patch.readable())
        return fail(console, patchFile, text::reasonFor(patch));
    if (patch.checks == PatchChecks::SourceCrc && patch.source)
        return checkNamedSource(*patch.source, imageFile, console);
    if (patch.checks == PatchChecks::ResultChecksums)
        return checkResultChecksums(patch, patchFile, imageFile, console);
    if (patch.checks == PatchChecks::ImageBlock && infoOf(patch.format).checkBlock)
        return checkImageBlock(patch, patchFile, imageFile, console);
    // Only a patch that shows the window's pairs names its image by them; any
    // other that checks nothing has nothing to be checked against.
    if (!patch.display)
        return fail(console, patchFile,
                    QStringLiteral("%1 patch does not say which image it was made for, so there "
                                   "is nothing to check it against; apply it with --force once "
                                   "you are sure of the image")
                        .arg(fromEngine(text::withArticle(infoOf(patch.format).name))),
                    Refused);
    const auto compared = comparePatchAndImage(patch, patchFile, imageFile, console);
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
    "source's CRC-32 in some byte order, or the block check of the image, as the patch has.",
    20,
    runCheck,
});

} // namespace

} // namespace tarnic::cli
