// tarnic-cli check PATCH IMAGE: the four pairs the window colours; exit status
// 0 when all four match.

#include "Command.h"
#include "PairCheck.h"

namespace tarnic::cli {

namespace {

int runCheck(const CommandSpec &spec, const QStringList &arguments, Console &console) {
    CommandLine command(spec);
    if (const auto done = command.parse(arguments, console, 2, 2))
        return *done;
    const auto compared = comparePatchAndImage(command.files()[0], command.files()[1], console);
    if (const int *status = std::get_if<int>(&compared))
        return *status;
    const PairCheck &check = std::get<PairCheck>(compared);
    for (int i = 0; i < kMatchPairCount; ++i) {
        console.out << pairCaption(i) << ": ";
        if (check.equal[i])
            console.out << "match\n";
        else
            console.out << "differs (image \"" << check.image[i] << "\", patch \"" << check.patch[i]
                        << "\")\n";
    }
    return allPairsEqual(check.equal) ? Success : Refused;
}

const RegisterCommand registration({
    "check",
    "PATCH IMAGE",
    "Compares the four pairs the window colours; exit status 0 when all four match.",
    20,
    runCheck,
});

} // namespace

} // namespace tarnic::cli
