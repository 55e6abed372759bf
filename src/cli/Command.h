#pragma once
// What every command of tarnic-cli shares: how it registers itself, reads its
// options and arguments, and ends. Each command lives in a file of its own and
// registers its name, arguments, summary and run function there, so adding a
// command touches that one file.

#include "qt/EngineText.h"
#include "qt/PathText.h"
#include "texts/Messages.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

#include <optional>
#include <string>
#include <vector>

namespace tarnic::cli {

// The engine's texts, printed as Qt's (qt/EngineText.h).
inline QTextStream &operator<<(QTextStream &out, const std::string &text) {
    return out << fromEngine(text);
}

// Exit status of every command. 1 and 2 mean that nothing was changed, so a
// script may try again; 3 means that a change is on disk, so trying again
// could undo it.
enum Exit : int {
    Success = 0,
    Refused = 1,       // bad input refused, `check` found a difference, a wrong checksum
    Trouble = 2,       // a usage error, or a file that cannot be read or written
    ChangedButNot = 3, // the change is on disk, but not all that was asked: a backup
                       // not in place, a folder not flushed, another image of the
                       // command's not done, or its report not written
};

struct Console {
    QTextStream &out;
    QTextStream &err;
    // Set by a command once a change it made is on disk.
    bool changed = false;
};

// The status of a command that went over several files: the worst, but 3
// where some change is on disk and something failed.
int combinedStatus(int status, const Console &console);

// Reports what is amiss after a change reached the disk (a folder that could
// not be flushed: `folderFlushError`), on standard error; the status to end
// with, 3 when anything was.
int reportAftermath(Console &console, const QString &file, const std::string &folderFlushError);

struct CommandSpec;
// `arguments` start with the program's name, then the command's name.
using CommandRun = int (*)(const CommandSpec &command, const QStringList &arguments,
                           Console &console);

struct CommandSpec {
    const char *name;
    const char *synopsis; // arguments, as the help shows them
    // "{applied}" and "{created}" stand for the formats Tarnic applies and
    // makes, taken from the format table (see summaryText()).
    const char *summary;
    int rank; // where the program's help lists it, lowest first
    CommandRun run;
};

// Every registered command, in the order the help lists them.
std::vector<CommandSpec> registeredCommands();

// Registers a command; a command file holds one of these at namespace scope.
struct RegisterCommand {
    explicit RegisterCommand(const CommandSpec &command);
};

// A summary or help text with the format table's names in place of
// "{applied}" ("APS, BPS, UPS, ...") and "{created}" ("APS, BPS or IPS").
QString summaryText(const char *summary);

// The parser's help with its first line replaced by `usage` ("tarnic-cli ...").
QString helpText(const QCommandLineParser &parser, const QString &usage);

// The options and arguments of one command.
class CommandLine {
  public:
    explicit CommandLine(const CommandSpec &command);

    QCommandLineParser &parser() { return parser_; }
    bool isSet(const QCommandLineOption &option) const { return parser_.isSet(option); }
    QString value(const QCommandLineOption &option) const { return parser_.value(option); }

    // Reads the arguments. Returns the exit status when the command is to end
    // here (help shown, or a usage error), nothing when it is to run.
    std::optional<int> parse(const QStringList &arguments, Console &console, qsizetype fewest,
                             qsizetype most = -1);

    // The files named after the options.
    const QStringList &files() const { return files_; }

    // A usage error: the reason, the hint, and the status.
    int usageError(Console &console, const QString &reason) const;

  private:
    const CommandSpec &command_;
    QCommandLineParser parser_;
    QStringList files_;
};

// An error line on standard error, "tarnic-cli: FILE: REASON", and `status`.
int fail(Console &console, const QString &file, const QString &reason, int status);

// The same for an outcome: its line, with the system's own reason when it gave
// one, and the status its severity gives.
int fail(Console &console, const QString &file, const text::Reason &reason,
         const std::string &systemError = {});

// The exit status that goes with a severity.
int statusFor(text::Severity severity);

// "Caption: value", the caption as the name of what it labels.
void printLine(Console &console, const std::string &caption, const QString &value);

} // namespace tarnic::cli
