#include "ChildProcess.h"

#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace childprocess {

Ended run(const std::function<int()> &work, const Limits &limits) {
    const pid_t child = fork();
    if (child == 0) {
        if (limits.fileSize) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(*limits.fileSize), rlim_t(*limits.fileSize)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        _exit(work());
    }
    if (limits.killAfter) {
        usleep(useconds_t(limits.killAfter->count()));
        kill(child, SIGKILL);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

} // namespace childprocess
