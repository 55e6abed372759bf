// tarnic-cli apply PATCH IMAGE: what "Patch Rom" does, all or nothing; refuses
// where a pair differs unless --force.

#include "Command.h"
#include "Images.h"
#include "PairCheck.h"
#include "files/Backup.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "rom/ImageHeader.h"
#include "rom/NameTables.h"

namespace tarnic::cli {

namespace {

// Why an image is not a patch's, by what the patch checks of it.
QString wrongImageDetail(PatchChecks checks, const ApplyResult &result) {
    switch (checks) {
    case PatchChecks::SourceCrc:
        return QStringLiteral(": not in any byte order (its CRC-32 is %1, the patch's source has "
                              "%2); --force applies it all the same, and the result's CRC-32 "
                              "decides")
            .arg(crc32Text(result.imageCrc), crc32Text(result.expectedCrc));
    case PatchChecks::ResultChecksums:
        return QStringLiteral(": not in any byte order (what the patch makes of it does not have "
                              "the checksum the patch carries, or the image is shorter than the "
                              "part the patch reads); nothing written; --force applies it all "
                              "the same, and every checksum of the result still decides");
    default:
        return QStringLiteral(": its size or the bytes of the patch's block check differ; "
                              "nothing written; --force applies it all the same");
    }
}

QString mismatchReason(const PairCheck &check, const QString &image) {
    if (check.simplePatch)
        return QStringLiteral("a simple patch (type 0) does not say which image it was made for; "
                              "make sure this is the right one, then give --force");
    QStringList differing;
    for (int i = 0; i < kMatchPairCount; ++i) {
        if (!check.equal[i])
            differing << fromEngine(pairCaption(i));
    }
    if (differing.size() == 1 && !check.equal[kFormatPair]) {
        const QString remedy =
            check.image[kFormatPair] == LittleEndianFormatName
                ? QStringLiteral("tarnic-cli convert --to %1 %2")
                      .arg(check.patch[kFormatPair] == ImageFormatNames[0] ? QStringLiteral("v64")
                                                                           : QStringLiteral("z64"),
                           image)
                : QStringLiteral("tarnic-cli swap %1").arg(image);
        return QStringLiteral("only the byte order differs: the patch is for %1, the image is %2; "
                              "convert it first with: %3, or give --force to apply the patch in "
                              "its own order to the image in its own")
            .arg(fromEngine(trimmed(check.patch[kFormatPair])),
                 fromEngine(trimmed(check.image[kFormatPair])), remedy);
    }
    return QStringLiteral("the patch was not made for this image (%1 differ%2); nothing written; "
                          "--force applies it all the same")
        .arg(differing.join(QStringLiteral(", ")),
             differing.size() == 1 ? QStringLiteral("s") : QString());
}

// The job's result, told on standard output: where it went, and the backup;
// then on standard error what is amiss although the image is patched. The
// status to end with.
int reportApplied(Console &console, const PatchJob &job, const ApplyResult &result) {
    console.changed = true;
    if (!result.backupPath.empty())
        console.out << "; the image as it was is in " << nameText(result.backupPath);
    console.out << '\n';
    int status = Success;
    if (!result.backupPath.empty() && result.backupPath != job.backupPath) {
        console.err << "tarnic-cli: " << nameText(job.backupPath) << ": could not be put in place ("
                    << result.systemError << "); the image as it was waits in "
                    << nameText(result.backupPath)
                    << (result.replacedEarlierBackup ? ", and the earlier backup is still there"
                                                     : "")
                    << "; the next run on the image puts it in place\n";
        status = ChangedButNot;
    }
    const QString written = nameText(job.outputPath.empty() ? job.imagePath : job.outputPath);
    return std::max(status, reportAftermath(console, written, result.folderFlushError));
}

// A refusal or failure of `apply`, naming the file at fault: the names that
// clash, or `file`, with the system's reason where it gave one.
int applyFailed(Console &console, const QString &file, const ApplyResult &result,
                const QString &before = {}) {
    const text::Reason why = text::reasonFor(result);
    QString line = before + fromEngine(why.line());
    if (result.outcome == ApplyOutcome::InputAtWrittenName)
        line += QStringLiteral(" (it is the input given as %1)").arg(nameText(result.clash.input));
    if (!result.systemError.empty())
        line += QStringLiteral(" (%1)").arg(fromEngine(result.systemError));
    const bool named = result.outcome == ApplyOutcome::InputAtWrittenName ||
                       result.outcome == ApplyOutcome::NameInTheWay;
    return fail(console, named ? nameText(result.clash.written) : file, line,
                statusFor(why.severity));
}

// Several patches in a row: each checked against the result of the one
// before, the image replaced once at the end or not at all. Patches that say
// nothing of their image (APS, IPS, PPF without a block check) cannot be
// checked against a result in between, so they need --force.
int applySeveral(const QStringList &patches, PatchJob job, Console &console) {
    std::vector<std::filesystem::path> files;
    for (const QString &patch : patches) {
        files.push_back(pathOf(patch));
        // One that does not read is refused for that when it is applied.
        const PatchSummary summary = inspectPatchFile(files.back(), ReadDepth::Header);
        if (summary.readable() && !summary.checksItsImage() && !job.skipSourceCheck)
            return fail(console, patch,
                        QStringLiteral("%1 patch in a row of several cannot be checked against "
                                       "the result before it; make sure of the order, then give "
                                       "--force")
                            .arg(fromEngine(text::withArticle(infoOf(summary.format).name))),
                        Refused);
    }
    const ApplyResult result = applyPatchFiles(files, job);
    if (result.outcome != ApplyOutcome::Applied)
        return applyFailed(
            console, patches.value(result.patchIndex), result,
            QStringLiteral("patch %1 of %2: ").arg(result.patchIndex + 1).arg(patches.size()));
    console.out << nameText(job.outputPath.empty() ? job.imagePath : job.outputPath) << ": "
                << patches.size() << " patches applied in a row";
    return reportApplied(console, job, result);
}

int runApply(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    const QCommandLineOption backup(QStringLiteral("backup"),
                                    QStringLiteral("Keep the image as it was in IMAGE.BAK."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Apply even where a pair differs (APS), or to an image that is not the "
                       "patch's source (BPS, UPS: the result's CRC-32 still decides; xdelta: "
                       "its windows' checksums still decide; PPF: without its block check)."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the patched image to OUTPUT and leave "
                                                   "IMAGE untouched."),
                                    QStringLiteral("OUTPUT"));
    command.parser().addOptions({backup, force, output});
    if (const auto done = command.parse(arguments, console, 2))
        return *done;
    const QStringList patches = command.files().mid(0, command.files().size() - 1);
    const QString &patchFile = patches.first();
    const QString &imageFile = command.files().last();
    const bool toOutput = command.isSet(output);
    if (toOutput && command.isSet(backup))
        return command.usageError(
            console, QStringLiteral("--backup has no use with -o, which leaves IMAGE untouched"));
    if (!toOutput && isBackupName(toEngine(imageFile)))
        return fail(console, imageFile,
                    QStringLiteral("a backup, which is not patched; patch the image itself, or "
                                   "write the result elsewhere with -o"),
                    Refused);

    if (patches.size() > 1) {
        PatchJob several;
        several.imagePath = pathOf(imageFile);
        several.skipSourceCheck = command.isSet(force);
        if (command.isSet(backup))
            several.backupPath = backupNameOf(several.imagePath);
        several.outputPath = pathOf(command.value(output));
        return applySeveral(patches, several, console);
    }

    // What the window would ask needs --force: pairs that differ, a patch
    // that names no image, or no byte order for an image in a copier's. A
    // patch that shows the window's pairs is read whole and compared first,
    // so that a patch or image that cannot be is refused for that.
    PatchSummary patch = inspectPatchFile(pathOf(patchFile), ReadDepth::Header);
    if (patch.display)
        patch = inspectPatchFile(pathOf(patchFile), ReadDepth::Whole);
    if (!patch.readable())
        return fail(console, patchFile, text::reasonFor(patch));
    std::optional<PairCheck> pairs;
    if (patch.display) { // the window's pairs (a file in no format says what it is not)
        const auto compared = comparePatchAndImage(patch, patchFile, imageFile, console);
        if (const int *status = std::get_if<int>(&compared))
            return *status;
        pairs = std::get<PairCheck>(compared);
    }
    HeaderBytes head;
    const ByteOrder imageOrder =
        readHeaderBytes(pathOf(imageFile), head) ? byteOrderOf(head) : ByteOrder::Unknown;
    if (!command.isSet(force)) {
        switch (questionBefore(patch, imageOrder, pairs && !allPairsEqual(pairs->equal))) {
        case ApplyQuestion::None:
            break;
        case ApplyQuestion::NamesNoByteOrder:
            return fail(console, imageFile,
                        fromEngine(text::byteOrderRefusal(text::orderName(imageOrder),
                                                          "tarnic-cli convert --to z64 " +
                                                              toEngine(imageFile))),
                        Refused);
        case ApplyQuestion::PairsDiffer:
        case ApplyQuestion::NamesNoImage:
            return fail(console, imageFile,
                        pairs ? mismatchReason(*pairs, imageFile)
                              : QStringLiteral("%1 patch does not say which image it was made "
                                               "for; make sure this is the right one, then give "
                                               "--force")
                                    .arg(fromEngine(text::withArticle(infoOf(patch.format).name))),
                        Refused);
        }
    }

    PatchJob job;
    job.skipSourceCheck = command.isSet(force);
    job.patchPath = pathOf(patchFile);
    job.imagePath = pathOf(imageFile);
    if (command.isSet(backup))
        job.backupPath = backupNameOf(job.imagePath);
    job.outputPath = pathOf(command.value(output));
    const QString written = toOutput ? command.value(output) : imageFile;
    const ApplyResult result = applyPatchFile(job);
    if (result.outcome == ApplyOutcome::WrongImage)
        return fail(console, imageFile,
                    fromEngine(*text::reasonFor(result.outcome).message) +
                        wrongImageDetail(patch.checks, result),
                    Refused);
    if (result.outcome == ApplyOutcome::OtherByteOrder)
        return fail(console, imageFile,
                    fromEngine(text::reasonFor(result.outcome).line()) +
                        QStringLiteral(" (the patch is for it read as %1; convert it first with: "
                                       "tarnic-cli convert --to %1 %2)")
                            .arg(shortName(result.readAs), imageFile),
                    Refused);
    if (result.outcome != ApplyOutcome::Applied)
        return applyFailed(console, patchIsAtFault(result.outcome) ? patchFile : written, result);
    if (patch.checks == PatchChecks::SourceCrc || patch.checks == PatchChecks::ResultChecksums)
        console.out << written << ": " << infoOf(patch.format).name
                    << " patch applied to the image read as " << shortName(result.readAs) << ", "
                    << result.bytesWritten << " bytes written, "
                    << (patch.checks == PatchChecks::SourceCrc ? "the result's CRC-32 checked"
                                                               : "the result's checksums checked");
    else
        console.out << written << ": " << text::countOf(result.records, "record") << " applied, "
                    << text::countOf(result.bytesWritten, "byte") << " written";
    return reportApplied(console, job, result);
}

const RegisterCommand registration({
    "apply",
    "PATCH... IMAGE",
    "Applies each PATCH ({applied}) to IMAGE in turn, all or nothing, in whatever "
    "byte order IMAGE is in.",
    30,
    runApply,
});

} // namespace

} // namespace tarnic::cli
