#include "ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace childprocess {

namespace {

// The number on a "Name:   1234 kB" line of /proc/self/status (KiB for the
// memory lines); -1 when unknown.
long statusKiB(const char *name) {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Starts the child's peak anew: what the parent had resident is not the
// work's (Linux's clear_refs "5" resets the high-water mark).
long resetPeak() {
    if (FILE *refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
    return statusKiB("VmRSS");
}

// A child forked while another thread runs may find a lock that thread held
// (the allocator's, say) held for ever, and the work done in the child takes
// such locks. The program's own background threads (freeing a replaced
// file's blocks) end within moments: they are waited for, a few seconds at
// the most.
void waitUntilAlone() {
    for (int waited = 0; waited < 5000 && statusKiB("Threads") > 1; ++waited)
        usleep(1000);
}

} // namespace

Ended run(const std::function<int()> &work, const Limits &limits) {
    waitUntilAlone();
    int pipeFds[2];
    const bool piped = ::pipe(pipeFds) == 0;
    const pid_t child = fork();
    if (child == 0) {
        if (limits.fileSize) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(*limits.fileSize), rlim_t(*limits.fileSize)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const long before = resetPeak();
        const int code = work();
        const long peak = statusKiB("VmHWM");
        if (piped) {
            const long grown = before >= 0 && peak >= 0 ? peak - before : -1;
            [[maybe_unused]] const ssize_t sent = ::write(pipeFds[1], &grown, sizeof grown);
        }
        _exit(code);
    }
    if (piped)
        ::close(pipeFds[1]);
    if (limits.killAfter) {
        usleep(useconds_t(limits.killAfter->count()));
        kill(child, SIGKILL);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    long grown = -1;
    if (piped) {
        if (::read(pipeFds[0], &grown, sizeof grown) != sizeof grown)
            grown = -1;
        ::close(pipeFds[0]);
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, grown >= 0 ? grown : usage.ru_maxrss};
}

} // namespace childprocess
