#include "Run.h"

#include "texts/BuildInfo.h"

namespace tarnic::cli {

namespace {

QString programHelp(QCommandLineParser &parser) {
    QString help = helpText(parser, QStringLiteral("tarnic-cli COMMAND [options] [arguments]\n"
                                                   "  or:  tarnic-cli --help | --version"));
    help += QStringLiteral("\nCommands:\n");
    for (const CommandSpec &command : registeredCommands()) {
        help += QStringLiteral("  %1  %2\n")
                    .arg(QStringLiteral("%1 %2")
                             .arg(QLatin1String(command.name), QLatin1String(command.synopsis))
                             .leftJustified(26),
                         summaryText(command.summary));
    }
    help += QStringLiteral(
        "\n'tarnic-cli COMMAND --help' describes a command and its options.\n"
        "\nExit status:\n"
        "  0  success\n"
        "  1  refused (bad input, a pair that differs, a wrong checksum); nothing written\n"
        "  2  a usage error, or a file that cannot be read or written; nothing written\n"
        "  3  the change is on disk, but not all that was asked (a backup not in place, a\n"
        "     folder not flushed, another image not done, the report not written): do not\n"
        "     simply run it again, which could undo the change\n");
    return help;
}

} // namespace

int run(const QStringList &arguments, Console &console) {
    if (arguments.size() > 1 && !arguments[1].startsWith(u'-')) {
        for (const CommandSpec &command : registeredCommands()) {
            if (arguments[1] == QLatin1String(command.name))
                return command.run(command, arguments, console);
        }
        console.err << "tarnic-cli: '" << arguments[1]
                    << "' is not a command. Try 'tarnic-cli --help'.\n";
        return Trouble;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        summaryText("Applies and checks {applied} patches and makes {created} patches for "
                    "Nintendo 64 ROM images, converts images between byte orders, and fixes "
                    "their header checksum."));
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments)) {
        console.err << "tarnic-cli: " << parser.errorText() << "\nTry 'tarnic-cli --help'.\n";
        return Trouble;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        console.out << "tarnic-cli " << kProgramVersion << '\n';
        return Success;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        console.out << programHelp(parser);
        return Success;
    }
    console.err << programHelp(parser);
    return Trouble;
}

} // namespace tarnic::cli
