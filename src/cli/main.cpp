// tarnic-cli: the program's engine from the command line.

#include "Command.h"
#include "texts/BuildInfo.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace tarnic;
using namespace tarnic::cli;

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
        QStringLiteral("Applies, checks and makes APS patches for Nintendo 64 ROM images, converts "
                       "images between byte orders, and fixes their header checksum."));
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

// The first argument whose bytes do not survive the system's decoding (a file
// name that is not valid UTF-8, say): Qt would name another file in its place.
int undecodableArgument(int argc, char **argv, const QStringList &arguments) {
    for (int i = 1; i < argc && i < arguments.size(); ++i) {
        if (QFile::encodeName(arguments[i]) != QByteArray(argv[i]))
            return i;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnic-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
    int status;
    {
        QTextStream out(stdout);
        QTextStream err(stderr);
        Console console{out, err};
        const QStringList arguments = QCoreApplication::arguments();
        if (const int bad = undecodableArgument(argc, argv, arguments)) {
            err << "tarnic-cli: argument " << bad << " (\""
                << QString::fromLatin1(QByteArray(argv[bad]).toPercentEncoding("/.-_ "))
                << "\") is not valid UTF-8, so no file can be named by it exactly; nothing "
                   "done. Rename the file first.\n";
            status = Trouble;
        } else {
            status = run(arguments, console);
        }
    }
    // What was printed reached its destination only if standard output took it
    // all (a full disk behind a redirection does not).
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("tarnic-cli: standard output could not be written\n", stderr);
        return Trouble;
    }
    return status;
}
