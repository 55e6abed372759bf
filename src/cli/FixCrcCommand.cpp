// tarnic-cli fix-crc IMAGE: recomputes the header checksum and writes it in the
// image's own byte order, all or nothing.

#include "Command.h"
#include "Images.h"
#include "qt/PathText.h"
#include "rom/Checksum.h"

namespace tarnic::cli {

namespace {

int runFixCrc(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    const QCommandLineOption checkOnly(QStringLiteral("check"),
                                       QStringLiteral("Only report; write nothing."));
    command.parser().addOptions({cicOption(), checkOnly});
    if (const auto done = command.parse(arguments, console, 1, 1))
        return *done;
    std::optional<BootCode> kind;
    if (!bootCodeOption(command, kind))
        return fail(console, command.value(cicOption()), QStringLiteral("not a boot-code kind"),
                    Trouble);
    const QString &file = command.files()[0];

    const bool onlyCheck = command.isSet(checkOnly);
    const ChecksumFix fix =
        onlyCheck
            ? ChecksumFix{ChecksumFixOutcome::NotChecked, checkChecksum(pathOf(file), kind), {}, {}}
            : fixChecksum(pathOf(file), kind);
    if (fix.outcome == ChecksumFixOutcome::Busy)
        return fail(console, file, text::reasonFor(fix.outcome));
    const ChecksumReport &report = fix.report;
    if (report.outcome == ChecksumOutcome::Unrecognised)
        return fail(console, file, notAnImage(file, report.order), Refused);
    if (report.outcome == ChecksumOutcome::CannotOpen)
        return fail(console, file, text::reasonFor(report.outcome));
    if (report.outcome != ChecksumOutcome::Checked) {
        const text::Reason why = text::reasonFor(report.outcome);
        return fail(console, file, fromEngine("checksum " + why.detail), statusFor(why.severity));
    }

    const QString kindText = fromEngine(" (CIC " + bootCodeName(*report.used) + ")");
    if (onlyCheck) {
        console.out << file << ": checksum ";
        if (report.valid())
            console.out << "valid" << kindText << '\n';
        else
            console.out << "wrong: header has " << checksumText(report.stored) << ", should be "
                        << checksumText(report.computed) << kindText << '\n';
        return report.valid() ? Success : Refused;
    }
    switch (fix.outcome) {
    case ChecksumFixOutcome::AlreadyValid:
        console.out << file << ": checksum already valid" << kindText << "; nothing written\n";
        return Success;
    case ChecksumFixOutcome::Written:
        console.out << file << ": checksum written: " << checksumText(report.computed) << kindText
                    << ", was " << checksumText(report.stored) << '\n';
        console.changed = true;
        return reportAftermath(console, file, fix.folderFlushError);
    case ChecksumFixOutcome::NotChecked:
        break;
    case ChecksumFixOutcome::WriteFailed:
    case ChecksumFixOutcome::Busy:
    case ChecksumFixOutcome::Changed:
    case ChecksumFixOutcome::LeftUnsure:
    case ChecksumFixOutcome::LeftUnknown:
        return fail(console, file, text::reasonFor(fix.outcome), fix.systemError);
    }
    return fail(console, file, text::reasonFor(ChecksumFixOutcome::WriteFailed), fix.systemError);
}

const RegisterCommand registration({
    "fix-crc",
    "IMAGE",
    "Recomputes the header checksum (CRC1, CRC2) and writes it.",
    70,
    runFixCrc,
});

} // namespace

} // namespace tarnic::cli
