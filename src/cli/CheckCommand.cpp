// tarnic-cli check PATCH IMAGE: the four pairs the window colours; exit status
// 0 when all four match.

#include "Command.h"
#include "Images.h"
#include "PairCheck.h"
#include "patch/PatchApplication.h"

#include "patch/PatchFormat.h"
#include <QFileInfo>

namespace tarnic::cli {

namespace {

// A patch that names its source (BPS, UPS) fits an image that is that source
// in some byte order.
int checkNamedSource(const QString &patchFile, PatchFormat format, const QString &imageFile,
                     Console &console) {
    ApplyOutcome why = ApplyOutcome::Applied;
    const std::optional<NamedSource> source = namedSourceOf(patchFile, format, why);
    if (!source)
        return fail(console, patchFile, text::reasonFor(why));
    if (!QFileInfo(imageFile).isFile())
        return fail(console, imageFile, QStringLiteral("cannot be read"), Trouble);
    if (const std::optional<ByteOrder> order = sourceOrder(*source, imageFile)) {
        console.out << "Source CRC-32: match (" << crc32Text(source->crc) << ", the image read as "
                    << shortName(*order) << ")\n";
        return Success;
    }
    console.out << "Source CRC-32: differs (the patch's source has " << crc32Text(source->crc)
                << " in " << source->size << " bytes; the image is not it in any byte order)\n";
    return Refused;
}

int runCheck(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const PatchFormat format = recognisePatchFile(command.files()[0]);
    if (infoOf(format).namesItsSource && infoOf(format).applies)
        return checkNamedSource(command.files()[0], format, command.files()[1], console);
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
