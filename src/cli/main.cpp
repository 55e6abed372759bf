// tarnic-cli: the program's engine from the command line.

#include "CliCommands.h"
#include "texts/Messages.h"

#include <QCommandLineParser>
#include <QCoreApplication>

using namespace tarnic;
using namespace tarnic::cli;

namespace {

QString programHelp(QCommandLineParser &parser) {
    QString help = helpText(parser, QStringLiteral("tarnic-cli COMMAND [options] [arguments]\n"
                                                   "  or:  tarnic-cli --help | --version"));
    help += QStringLiteral("\nCommands:\n");
    for (const CommandEntry &command : kCommands) {
        help += QStringLiteral("  %1  %2\n")
                    .arg(QStringLiteral("%1 %2")
                             .arg(QLatin1String(command.name), QLatin1String(command.synopsis))
                             .leftJustified(26),
                         QLatin1String(command.summary));
    }
    help += QStringLiteral(
        "\n'tarnic-cli COMMAND --help' describes a command and its options.\n"
        "\nExit status:\n"
        "  0  success\n"
        "  1  refused (bad input, a pair that differs, a wrong checksum); nothing written\n"
        "  2  a usage error, or a file that cannot be read or written\n");
    return help;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnic-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
    QTextStream out(stdout);
    QTextStream err(stderr);
    Console console{out, err};

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && !arguments[1].startsWith(u'-')) {
        for (const CommandEntry &command : kCommands) {
            if (arguments[1] == QLatin1String(command.name))
                return command.run(arguments, console);
        }
        err << "tarnic-cli: '" << arguments[1] << "' is not a command. Try 'tarnic-cli --help'.\n";
        return Trouble;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Applies, checks and makes APS patches for Nintendo 64 ROM images, converts "
                       "images between byte orders, and fixes their header checksum."));
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(arguments)) {
        err << "tarnic-cli: " << parser.errorText() << "\nTry 'tarnic-cli --help'.\n";
        return Trouble;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "tarnic-cli " << kProgramVersion << '\n';
        return Success;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << programHelp(parser);
        return Success;
    }
    err << programHelp(parser);
    return Trouble;
}
