#pragma once
// The commands of tarnic-cli. Each reads its own options and arguments, runs
// the core and prints what it found: results to standard output, errors (the
// file and the reason) to standard error.

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

namespace tarnic::cli {

// Exit status of every command.
enum Exit : int {
    Success = 0,
    Refused = 1, // bad input refused, `check` found a difference, a wrong checksum
    Trouble = 2, // a usage error, or a file that cannot be read or written
};

struct Console {
    QTextStream &out;
    QTextStream &err;
};

// `arguments` start with the program's name, then the command's name.
using Command = int (*)(const QStringList &arguments, Console &console);

struct CommandEntry {
    const char *name;
    const char *synopsis; // arguments, as the help shows them
    const char *summary;
    Command run;
};

extern const CommandEntry kCommands[7];

// The parser's help with its first line replaced by `usage` ("tarnic-cli ...").
QString helpText(const QCommandLineParser &parser, const QString &usage);

} // namespace tarnic::cli
