// tarnic-cli: the program's engine from the command line.

#include "Command.h"
#include "Run.h"
#include "qt/PathText.h"
#include "texts/BuildInfo.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace tarnic;
using namespace tarnic::cli;

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnic-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
    int status;
    bool changed = false;
    {
        QTextStream out(stdout);
        QTextStream err(stderr);
        Console console{out, err};
        // File names are bytes: each argument's are kept exactly, valid UTF-8
        // or not (qt/PathText.h), and a command names files by pathOf().
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << nameText(QByteArray(argv[i]));
        status = run(arguments, console);
        changed = console.changed;
    }
    // What was printed reached its destination only if standard output took it
    // all (a full disk behind a redirection does not).
    // A change that is on disk stays reported as made, so that a script that
    // tries again on failure does not undo it.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (changed) {
            std::fputs("tarnic-cli: standard output could not be written; the changes it would "
                       "have reported are on disk\n",
                       stderr);
            return ChangedButNot;
        }
        std::fputs("tarnic-cli: standard output could not be written\n", stderr);
        return Trouble;
    }
    return status;
}
