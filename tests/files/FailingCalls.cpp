#include "FailingCalls.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace failing {

namespace {
std::array<std::atomic<int>, size_t(Call::Count)> seen{};
std::atomic<int> failingCall{-1};
std::atomic<int> failingNth{0};

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
}

int callsSeen(Call call) {
    return seen[size_t(call)];
}

} // namespace failing

using failing::Call;

extern "C" int fdatasync(int fd) {
    static const auto next = failing::real<int (*)(int)>("fdatasync");
    if (failing::failsNow(Call::Fdatasync)) {
        errno = EIO;
        return -1;
    }
    return next(fd);
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
