#include "Command.h"

#include "patch/PatchFormat.h"

#include <algorithm>

namespace tarnic::cli {

namespace {

std::vector<CommandSpec> &registry() {
    static std::vector<CommandSpec> commands;
    return commands;
}

} // namespace

RegisterCommand::RegisterCommand(const CommandSpec &command) {
    registry().push_back(command);
}

std::vector<CommandSpec> registeredCommands() {
    std::vector<CommandSpec> commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](const CommandSpec &a, const CommandSpec &b) { return a.rank < b.rank; });
    return commands;
}

QString summaryText(const char *summary) {
    QStringList applied;
    QStringList created;
    for (const PatchFormatInfo &info : patchFormats()) {
        if (info.applies())
            applied << QLatin1String(info.name);
        if (info.create)
            created << QLatin1String(info.name);
    }
    const QString lastCreated = created.isEmpty() ? QString() : created.takeLast();
    return QString::fromLatin1(summary)
        .replace(QStringLiteral("{applied}"), applied.join(QStringLiteral(", ")))
        .replace(QStringLiteral("{created}"),
                 created.isEmpty()
                     ? lastCreated
                     : created.join(QStringLiteral(", ")) + QStringLiteral(" or ") + lastCreated);
}

QString helpText(const QCommandLineParser &parser, const QString &usage) {
    const QString generated = parser.helpText();
    return QStringLiteral("Usage: ") + usage + generated.mid(generated.indexOf(u'\n'));
}

CommandLine::CommandLine(const CommandSpec &command) : command_(command) {
    parser_.setApplicationDescription(summaryText(command.summary));
    parser_.addHelpOption();
}

std::optional<int> CommandLine::parse(const QStringList &arguments, Console &console,
                                      qsizetype fewest, qsizetype most) {
    if (!parser_.parse(arguments))
        return usageError(console, parser_.errorText());
    if (parser_.isSet(QStringLiteral("help"))) {
        console.out << helpText(
            parser_, QStringLiteral("tarnic-cli %1 [options] %2")
                         .arg(QLatin1String(command_.name), QLatin1String(command_.synopsis)));
        return Success;
    }
    files_ = parser_.positionalArguments().mid(1); // after the command's name
    if (files_.size() < fewest || (most >= 0 && files_.size() > most))
        return usageError(console, QStringLiteral("expected ") + QLatin1String(command_.synopsis));
    return std::nullopt;
}

int CommandLine::usageError(Console &console, const QString &reason) const {
    console.err << "tarnic-cli " << command_.name << ": " << reason << '\n'
                << "Try 'tarnic-cli " << command_.name << " --help'.\n";
    return Trouble;
}

int fail(Console &console, const QString &file, const QString &reason, int status) {
    console.err << "tarnic-cli: " << file << ": " << reason << '\n';
    return status;
}

int statusFor(text::Severity severity) {
    switch (severity) {
    case text::Severity::None:
        return Success;
    case text::Severity::Refused:
        return Refused;
    case text::Severity::Trouble:
        break;
    }
    return Trouble;
}

int fail(Console &console, const QString &file, const text::Reason &reason,
         const std::string &systemError) {
    QString line = fromEngine(reason.line());
    if (!systemError.empty())
        line += QStringLiteral(" (%1)").arg(fromEngine(systemError));
    return fail(console, file, line, statusFor(reason.severity));
}

int combinedStatus(int status, const Console &console) {
    return console.changed && status != Success ? int(ChangedButNot) : status;
}

int reportAftermath(Console &console, const QString &file, const std::string &folderFlushError) {
    if (folderFlushError.empty())
        return Success;
    console.err << "tarnic-cli: " << file
                << ": the change is made, but its folder could not be flushed to disk ("
                << folderFlushError << "); a power cut now could undo it\n";
    return ChangedButNot;
}

void printLine(Console &console, const std::string &caption, const QString &value) {
    console.out << text::captionName(caption) << ": " << value << '\n';
}

} // namespace tarnic::cli
