#include "files/FileLock.h"

#include "files/SystemCalls.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnic {

namespace {

#ifndef _WIN32
FileIdentity identityFrom(const struct stat &status) {
    return {static_cast<unsigned long long>(status.st_dev),
            static_cast<unsigned long long>(status.st_ino), static_cast<long long>(status.st_size),
            static_cast<long long>(status.st_mtim.tv_sec),
            static_cast<long long>(status.st_mtim.tv_nsec)};
}
#endif

// The files this process holds locked: a lock on one of them again is the
// same lock (flock would refuse it, as it would another process). A child
// made by fork() inherits the list, not the locks: it holds none of them.
std::mutex heldMutex;
std::vector<FileIdentity> heldFiles;
long heldBy = 0;

bool heldHere(const FileIdentity &file) {
#ifndef _WIN32
    if (heldBy != long(::getpid())) {
        heldFiles.clear();
        heldBy = long(::getpid());
    }
#endif
    return std::any_of(heldFiles.begin(), heldFiles.end(),
                       [&](const FileIdentity &held) { return sameFileAs(held, file); });
}

} // namespace

std::optional<FileIdentity> identityOf(const std::filesystem::path &path) {
#ifdef _WIN32
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return std::nullopt;
    const auto modified = std::filesystem::last_write_time(path, error).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(modified);
    return FileIdentity{
        0, 0, static_cast<long long>(size), seconds.count(),
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified - seconds).count()};
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return identityFrom(status);
#endif
}

FileLock::FileLock(const std::filesystem::path &path, std::chrono::milliseconds patience) {
#ifdef _WIN32
    // Windows keeps an open file from being replaced; no lock is taken.
    (void)patience;
    std::error_code error;
    if (const auto identity = identityOf(path);
        identity && std::filesystem::is_regular_file(path, error)) {
        identity_ = *identity;
        outcome_ = Outcome::Locked;
    }
#else
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        descriptor_ = system::openRegular(path, O_RDONLY);
        if (descriptor_ < 0)
            return; // Missing
        {
            struct stat opened {};
            ::fstat(descriptor_, &opened);
            const std::lock_guard<std::mutex> guard(heldMutex);
            if (heldHere(identityFrom(opened))) {
                identity_ = identityFrom(opened);
                outcome_ = Outcome::Locked;
                return;
            }
        }
        while (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                ::close(descriptor_);
                descriptor_ = -1;
                outcome_ = Outcome::Busy;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // The holder may have put a new file in this one's place meanwhile:
        // the lock counts only on the file the path names now.
        struct stat locked {};
        ::fstat(descriptor_, &locked);
        const std::optional<FileIdentity> now = identityOf(path);
        identity_ = identityFrom(locked);
        if (now && sameFileAs(*now, identity_)) {
            const std::lock_guard<std::mutex> guard(heldMutex);
            heldHere(identity_); // forgets a parent's
            heldFiles.push_back(identity_);
            held_ = true;
            outcome_ = Outcome::Locked;
            return;
        }
        ::close(descriptor_);
        descriptor_ = -1;
    }
#endif
}

FileLock::~FileLock() {
#ifndef _WIN32
    if (held_) {
        const std::lock_guard<std::mutex> guard(heldMutex);
        const auto at =
            std::find_if(heldFiles.begin(), heldFiles.end(),
                         [&](const FileIdentity &f) { return sameFileAs(f, identity_); });
        if (at != heldFiles.end())
            heldFiles.erase(at);
    }
    if (descriptor_ >= 0)
        ::close(descriptor_);
#endif
}

} // namespace tarnic
