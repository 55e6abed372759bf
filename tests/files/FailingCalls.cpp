#include "FailingCalls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <utility>
#include <vector>

namespace failing {

namespace {
std::array<std::atomic<int>, size_t(Call::Count)> seen{};
std::atomic<int> failingCall{-1};
std::atomic<int> failingNth{0};
std::atomic<int> fault{0};
// The files flushed to disk since failNth(), and whether a first flush failed.
std::vector<std::pair<dev_t, ino_t>> flushedFiles;
bool firstFlushFailed = false;

// What the current call meets.
enum class Now { Pass, Fail, Short };

Now meets(Call call) {
    const int n = ++seen[size_t(call)];
    if (failingCall != int(call) || failingNth == 0 || n < failingNth)
        return Now::Pass;
    switch (Fault(fault.load())) {
    case Fault::Once:
        return n == failingNth ? Now::Fail : Now::Pass;
    case Fault::FromThenOn:
        return Now::Fail;
    case Fault::ShortWrite:
        return n == failingNth ? Now::Short : Now::Pass;
    case Fault::Kill:
        if (n == failingNth)
            ::raise(SIGKILL);
        return Now::Pass;
    case Fault::Count:
        break;
    }
    return Now::Pass;
}

template <typename Function> Function real(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
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

int failed() {
    errno = EIO;
    return -1;
}
} // namespace

std::function<void()> afterRename;
int afterRenameNth = 0;
int renamesSeen = 0;

void afterNthRename(int nth, std::function<void()> then) {
    afterRename = std::move(then);
    afterRenameNth = nth;
    renamesSeen = 0;
}

void failNth(Call call, int nth, Fault kind) {
    for (auto &count : seen)
        count = 0;
    failingCall = int(call);
    failingNth = nth;
    fault = int(kind);
    flushedFiles.clear();
    firstFlushFailed = false;
}

int callsSeen(Call call) {
    return seen[size_t(call)];
}

bool failedAFirstFlush() {
    return firstFlushFailed;
}

static int fdatasyncThroughLayer(int fd, int (*next)(int)) {
    if (meets(Call::Fdatasync) == Now::Fail) {
        firstFlushFailed |= !flushedBefore(fd, false);
        return failed();
    }
    const int result = next(fd);
    flushedBefore(fd, result == 0);
    return result;
}

static ssize_t pwriteThroughLayer(int fd, const void *data, size_t size, off_t offset,
                                  ssize_t (*next)(int, const void *, size_t, off_t)) {
    switch (meets(Call::Pwrite)) {
    case Now::Fail:
        return failed();
    case Now::Short:
        return next(fd, data, size > 1 ? size / 2 : size, offset);
    case Now::Pass:
        break;
    }
    return next(fd, data, size, offset);
}

} // namespace failing

using failing::Call;

extern "C" int fdatasync(int fd) {
    static const auto next = failing::real<int (*)(int)>("fdatasync");
    return failing::fdatasyncThroughLayer(fd, next);
}

extern "C" ssize_t pwrite(int fd, const void *data, size_t size, off_t offset) {
    static const auto next = failing::real<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    return failing::pwriteThroughLayer(fd, data, size, offset, next);
}

extern "C" ssize_t pwrite64(int fd, const void *data, size_t size, off_t offset) {
    static const auto next =
        failing::real<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite64");
    return failing::pwriteThroughLayer(fd, data, size, offset, next);
}

extern "C" int fsync(int fd) {
    static const auto next = failing::real<int (*)(int)>("fsync");
    return failing::meets(Call::Fsync) == failing::Now::Fail ? failing::failed() : next(fd);
}

extern "C" int rename(const char *from, const char *to) {
    static const auto next = failing::real<int (*)(const char *, const char *)>("rename");
    if (failing::meets(Call::Rename) == failing::Now::Fail)
        return failing::failed();
    const int result = next(from, to);
    if (failing::afterRename && ++failing::renamesSeen == failing::afterRenameNth)
        std::exchange(failing::afterRename, {})();
    return result;
}

extern "C" int link(const char *from, const char *to) {
    static const auto next = failing::real<int (*)(const char *, const char *)>("link");
    return failing::meets(Call::Link) == failing::Now::Fail ? failing::failed() : next(from, to);
}

extern "C" int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags) {
    static const auto next =
        failing::real<int (*)(int, const char *, int, const char *, int)>("linkat");
    return failing::meets(Call::Link) == failing::Now::Fail
               ? failing::failed()
               : next(fromFolder, from, toFolder, to, flags);
}
