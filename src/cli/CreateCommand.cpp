// tarnic-cli create ORIGINAL MODIFIED -o PATCH: the smallest APS patch that
// turns one image into the other.

#include "Command.h"
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"

namespace tarnic::cli {

namespace {

// How --format names a format: the first word of its name, in lower case.
QString formatWord(const PatchFormatInfo &info) {
    return QString::fromLatin1(info.name).section(u' ', 0, 0).toLower();
}

// The file an outcome of patch creation speaks of.
QString fileOf(const CreateJob &job, CreateOutcome outcome) {
    switch (outcome) {
    case CreateOutcome::OriginalUnreadable:
    case CreateOutcome::OriginalNotAnImage:
        return nameText(job.originalPath);
    case CreateOutcome::ModifiedUnreadable:
    case CreateOutcome::ModifiedShorter:
    case CreateOutcome::ModifiedTooLarge:
    case CreateOutcome::TooLargeForFormat:
        return nameText(job.modifiedPath);
    case CreateOutcome::DescriptionTooLong:
        return fromEngine(job.description);
    case CreateOutcome::Created:
    case CreateOutcome::PatchIsAnInput:
    case CreateOutcome::WriteFailed:
        break;
    }
    return nameText(job.patchPath);
}

int runCreate(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The patch to write (required)."),
                                    QStringLiteral("PATCH"));
    const QCommandLineOption description(
        QStringList{QStringLiteral("d"), QStringLiteral("description")},
        QStringLiteral("The patch's description, at most 50 characters."), QStringLiteral("TEXT"));
    // The formats Tarnic makes patches of, by the first words of their names
    // in lower case ("xdelta"), the first the default, each with what it is good for.
    QStringList formats;
    for (const PatchFormatInfo &info : patchFormats()) {
        if (info.create)
            formats << formatWord(info) +
                           (formats.isEmpty() ? QStringLiteral(" (the default; ")
                                              : QStringLiteral(" (")) +
                           QLatin1String(info.createNote) + u')';
    }
    const QCommandLineOption format(QStringLiteral("format"),
                                    formats.mid(0, formats.size() - 1).join(QStringLiteral(", ")) +
                                        QStringLiteral(" or ") + formats.last() + u'.',
                                    QStringLiteral("FORMAT"), formats.first().section(u' ', 0, 0));
    command.parser().addOptions({output, description, format});
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    if (!command.isSet(output))
        return command.usageError(console, QStringLiteral("-o PATCH is required"));
    const CreateJob job{pathOf(command.files()[0]), pathOf(command.files()[1]),
                        pathOf(command.value(output)), toEngine(command.value(description))};
    const QString kind = command.value(format).toLower();
    QStringList made;
    const PatchFormatInfo *chosen = nullptr;
    for (const PatchFormatInfo &info : patchFormats()) {
        if (!info.create)
            continue;
        made << formatWord(info);
        if (made.last() == kind)
            chosen = &info;
    }
    if (!chosen)
        return command.usageError(console, QStringLiteral("--format takes ") +
                                               made.join(QStringLiteral(", ")));
    const CreateResult result = chosen->create(job);
    if (result.outcome != CreateOutcome::Created)
        return fail(console, fileOf(job, result.outcome), text::reasonFor(result.outcome),
                    result.systemError);
    console.changed = true;
    console.out << command.value(output) << ": " << result.records << " records writing "
                << result.bytesWritten << " bytes; the patch is " << result.patchSize << " bytes\n";
    return reportAftermath(console, command.value(output), result.folderFlushError);
}

const RegisterCommand registration({
    "create",
    "ORIGINAL MODIFIED",
    "Writes a patch ({created}) that turns ORIGINAL into MODIFIED.",
    60,
    runCreate,
});

} // namespace

} // namespace tarnic::cli
