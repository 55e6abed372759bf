#include "FailingCalls.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace failing {

namespace {
std::array<std::atomic<int>, size_t(Call::Count)> seen{};
std::atomic<int> failingCall{-1};
std::atomic<int> failingNth{0};
// The files flushed to disk since failNth(), and whether a first flush failed.
std::vector<std::pair<dev_t, ino_t>> flushedFiles;
bool firstFlushFailed = false;

bool failsNow(Call call) {
    const int n = ++seen[size_t(call)];
    return failingCall == int(call) && failingNth == n;
}

template <typename Function> Function real(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
} // namespace

void failNth(Call call, int nth) {
    for (auto &count : seen)
        count = 0;
    failingCall = int(call);
    failingNth = nth;
    flushedFiles.clear();
    firstFlushFailed = false;
}

bool failedAFirstFlush() {
    return firstFlushFailed;
}

// Notes a flush of `fd`; true when its file had been flushed before.
bool flushedBefore(int fd, bool succeeded) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return false;
    const std::pair<dev_t, ino_t> file{status.st_dev, status.st_ino};
    const bool before =
        std::find(flushedFiles.begin(), flushedFiles.end(), file) != flushedFiles.end();
    if (succeeded && !before)
        flushedFiles.push_back(file);
    return before;
}

int callsSeen(Call call) {
    return seen[size_t(call)];
}

} // namespace failing

using failing::Call;

extern "C" int fdatasync(int fd) {
    static const auto next = failing::real<int (*)(int)>("fdatasync");
    if (failing::failsNow(Call::Fdatasync)) {
        failing::firstFlushFailed = !failing::flushedBefore(fd, false);
        errno = EIO;
        return -1;
    }
    const int result = next(fd);
    failing::flushedBefore(fd, result == 0);
    return result;
}

extern "C" int rename(const char *from, const char *to) {
    static const auto next = failing::real<int (*)(const char *, const char *)>("rename");
    if (failing::failsNow(Call::Rename)) {
        errno = EIO;
        return -1;
    }
    return next(from, to);
}

extern "C" int link(const char *from, const char *to) {
    static const auto next = failing::real<int (*)(const char *, const char *)>("link");
    if (failing::failsNow(Call::Link)) {
        errno = EIO;
        return -1;
    }
    return next(from, to);
}

extern "C" int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags) {
    static const auto next =
        failing::real<int (*)(int, const char *, int, const char *, int)>("linkat");
    if (failing::failsNow(Call::Link)) {
        errno = EIO;
        return -1;
    }
    return next(fromFolder, from, toFolder, to, flags);
}
