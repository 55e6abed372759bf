#pragma once
// The few system calls the files floor makes directly, with their retries and
// checks in one place. Internal to src/files.

#include <string>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnic::system {

// The reason of the last failed system call, in the system's words.
inline std::string errorText() {
#ifdef _WIN32
    wchar_t *text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const std::string reason =
        text ? std::filesystem::path(text).string() : "system error " + std::to_string(code);
    LocalFree(text);
    return reason;
#else
    return std::strerror(errno);
#endif
}

#ifndef _WIN32
// Opens without waiting (a FIFO would block an ordinary open for ever) and
// keeps the descriptor only when it is a plain file.
inline int openRegular(const std::filesystem::path &path, int access) {
    const int fd = ::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
#endif

// Flushes a file's content to disk; false when the system says it failed.
inline bool flushToDisk(int fd) {
#ifdef _WIN32
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
#else
    for (;;) {
#ifdef __linux__
        const int result = ::fdatasync(fd);
#else
        const int result = ::fsync(fd);
#endif
        if (result == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
#endif
}

// Makes a rename in `folder` durable. The new name is in place whatever this
// returns; an empty text means it is on disk, else the system's reason why it
// may not be (a power cut could then bring the old name back).
inline std::string flushFolder(const std::filesystem::path &folder) {
#ifndef _WIN32
    const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0)
        return errorText();
    int result;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    const std::string reason = result == 0 ? std::string() : errorText();
    ::close(fd);
    return reason;
#else
    (void)folder;
    return {};
#endif
}

} // namespace tarnic::system
