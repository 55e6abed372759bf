#pragma once
// The command line, given its arguments (the program's name first): the
// command named runs, or the program's help or version is printed.

#include "Command.h"

namespace tarnic::cli {

// The exit status.
int run(const QStringList &arguments, Console &console);

} // namespace tarnic::cli
