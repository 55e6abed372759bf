#include "files/FileReplacement.h"

#include "files/SystemCalls.h"

#include <optional>
#include <string>

#ifndef _WIN32
#include <cstdlib>
#endif

namespace tarnic {

namespace fs = std::filesystem;

fs::path FileReplacement::resolvedTarget(const fs::path &target) {
    std::error_code error;
    if (fs::is_symlink(target, error)) {
        const fs::path canonical = fs::canonical(target, error);
        if (!error)
            return canonical;
    }
    const fs::path absolute = fs::absolute(target, error);
    return error ? target : absolute;
}

fs::path FileReplacement::stagingNameOf(const fs::path &target) {
    const fs::path file = resolvedTarget(target);
    return file.parent_path() / ("." + file.filename().native() + ".tarnic-new");
}

namespace {

std::string sizeMismatch(std::int64_t size, std::int64_t expected) {
    return "the new file has " + std::to_string(size) + " bytes instead of " +
           std::to_string(expected);
}

} // namespace

struct FileReplacement::Parts {
    fs::path target; // the file to replace, links followed
    std::optional<std::pair<fs::path, FileIdentity>> unchanged;
#ifdef _WIN32
    explicit Parts(const fs::path &path) : target(resolvedTarget(path)) {}
    ~Parts() {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!name.empty())
            DeleteFileW(name.c_str());
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    fs::path name; // the new content's hidden name beside the target
#else
    explicit Parts(const fs::path &path) : target(resolvedTarget(path)) {}
    ~Parts() {
        if (fd >= 0)
            ::close(fd);
        if (!name.empty())
            ::unlink(name.c_str());
    }

    fs::path folder() const {
        return target.parent_path();
    }

    int fd = -1;
    fs::path name; // the new content's name while it has one
#endif
};

FileReplacement::FileReplacement(const fs::path &target)
    : parts_(std::make_unique<Parts>(target)) {}

FileReplacement::~FileReplacement() = default;

bool FileReplacement::failWith(const std::string &reason) {
    if (!failed_)
        error_ = reason;
    failed_ = true;
    return false;
}

void FileReplacement::fail(const std::string &reason) {
    failWith(reason);
}

void FileReplacement::requireUnchanged(const fs::path &path, const FileIdentity &identity) {
    parts_->unchanged = std::make_pair(path, identity);
}

#ifdef _WIN32

bool FileReplacement::open() {
    if (failed_)
        return false;
    Parts &p = *parts_;
    p.name = stagingNameOf(p.target);
    // Write-through, so that every failed write shows in the write itself.
    p.file = CreateFileW(p.name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (p.file == INVALID_HANDLE_VALUE) {
        p.name.clear();
        return failWith(system::errorText());
    }
    return true;
}

bool FileReplacement::writeAt(std::int64_t offset, const char *data, std::int64_t size) {
    if (failed_ || finished_ || parts_->file == INVALID_HANDLE_VALUE)
        return false;
    for (std::int64_t done = 0; done < size;) {
        OVERLAPPED at{};
        at.Offset = DWORD(std::uint64_t(offset + done));
        at.OffsetHigh = DWORD(std::uint64_t(offset + done) >> 32);
        DWORD n = 0;
        const DWORD piece = DWORD(std::min<std::int64_t>(size - done, 1 << 30));
        if (!WriteFile(parts_->file, data + done, piece, &n, &at) || n == 0)
            return failWith(system::errorText());
        done += n;
    }
    wrote(offset, size);
    return true;
}

bool FileReplacement::readAt(std::int64_t, char *, std::int64_t) {
    return false;
}

bool FileReplacement::finish(std::int64_t expectedSize) {
    if (failed_ || finished_ || parts_->file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(parts_->file, &size))
        return failWith(system::errorText());
    if (size.QuadPart != expectedSize)
        return failWith(sizeMismatch(size.QuadPart, expectedSize));
    if (!FlushFileBuffers(parts_->file))
        return failWith(system::errorText());
    finished_ = true;
    return true;
}

bool FileReplacement::commit() {
    if (!finished_)
        return false;
    finished_ = false;
    Parts &p = *parts_;
    CloseHandle(p.file);
    p.file = INVALID_HANDLE_VALUE;
    if (p.unchanged && identityOf(p.unchanged->first) != p.unchanged->second) {
        targetChanged_ = true;
        return failWith("another program changed the file meanwhile");
    }
    if (!MoveFileExW(p.name.c_str(), p.target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failWith(system::errorText());
    p.name.clear();
    return true;
}

#else

bool FileReplacement::open() {
    if (failed_)
        return false;
    Parts &p = *parts_;
#ifdef O_TMPFILE
    std::error_code noProc;
    if (fs::exists("/proc/self/fd", noProc))
        p.fd = ::open(p.folder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (p.fd < 0) {
        // No unnamed files here: a hidden name beside the target instead.
        std::string pattern =
            (p.folder() / ("." + p.target.filename().native() + ".tarnic-XXXXXX")).native();
        p.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (p.fd < 0)
            return failWith(system::errorText());
        p.name = pattern;
    }
    // The old file's owner, group and permissions; a new file gets what the
    // user's file-creation mask allows.
    struct stat old {};
    if (::stat(p.target.c_str(), &old) == 0) {
        // Only root may give a file away; anyone may keep the group if a member.
        if (::fchown(p.fd, old.st_uid, old.st_gid) != 0 &&
            ::fchown(p.fd, uid_t(-1), old.st_gid) != 0) {
            // The new file stays the user's own, as any file the user writes.
        }
        if (::fchmod(p.fd, old.st_mode & 07777) != 0)
            return failWith(system::errorText());
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(p.fd, 0666 & ~mask) != 0)
            return failWith(system::errorText());
    }
    return true;
}

bool FileReplacement::writeAt(std::int64_t offset, const char *data, std::int64_t size) {
    if (failed_ || finished_ || parts_->fd < 0)
        return false;
    for (std::int64_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(parts_->fd, data + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith(n < 0 ? system::errorText()
                                  : std::string("the system took no more bytes"));
        done += n;
    }
    wrote(offset, size);
    return true;
}

bool FileReplacement::readAt(std::int64_t offset, char *data, std::int64_t size) {
    if (failed_ || parts_->fd < 0)
        return false;
    for (std::int64_t done = 0; done < size;) {
        const ssize_t n = ::pread(parts_->fd, data + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith(n < 0 ? system::errorText()
                                  : std::string("the new file ended before its written end"));
        done += n;
    }
    return true;
}

bool FileReplacement::finish(std::int64_t expectedSize) {
    if (failed_ || finished_ || parts_->fd < 0)
        return false;
    struct stat status {};
    if (::fstat(parts_->fd, &status) != 0)
        return failWith(system::errorText());
    if (status.st_size != expectedSize)
        return failWith(sizeMismatch(status.st_size, expectedSize));
    if (!system::flushToDisk(parts_->fd))
        return failWith(system::errorText());
    finished_ = true;
    return true;
}

bool FileReplacement::commit() {
    if (!finished_)
        return false;
    finished_ = false;
    Parts &p = *parts_;
    if (p.name.empty()) {
        // The unnamed content gets its name only now, just before the rename.
        // A plain file at that name was left by a killed run of ours; anything
        // else there is in the way, and is named.
        const fs::path staging = stagingNameOf(p.target);
        struct stat there {};
        if (::lstat(staging.c_str(), &there) == 0 && !S_ISREG(there.st_mode))
            return failWith(staging.string() + " is in the way; move it elsewhere");
        if (::unlink(staging.c_str()) != 0 && errno != ENOENT)
            return failWith(system::errorText() + " (" + staging.string() + ")");
        const std::string self = "/proc/self/fd/" + std::to_string(p.fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, staging.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return failWith(system::errorText());
        p.name = staging;
    }
    if (p.unchanged && identityOf(p.unchanged->first) != p.unchanged->second) {
        targetChanged_ = true;
        return failWith(std::string("another program changed the file meanwhile"));
    }
    if (::rename(p.name.c_str(), p.target.c_str()) != 0)
        return failWith(system::errorText());
    p.name.clear();
    folderFlushError_ = system::flushFolder(p.folder());
    return true;
}

#endif

} // namespace tarnic
