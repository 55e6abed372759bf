#include "files/FileReplacement.h"

#include "files/PathText.h"
#include "files/SystemCalls.h"

#include <QSaveFile>

#include <optional>
#include <string>

#ifndef Q_OS_WIN
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

struct FileReplacement::Parts {
    fs::path target; // the file to replace, links followed
    std::optional<std::pair<fs::path, FileIdentity>> unchanged;
#ifdef Q_OS_WIN
    QSaveFile file;
    explicit Parts(const fs::path &path) : target(resolvedTarget(path)), file(target) {}
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
    fs::path name;       // the new content's name while it has one
    qint64 appendAt = 0; // where write() appends
#endif
};

FileReplacement::FileReplacement(const fs::path &target)
    : parts_(std::make_unique<Parts>(target)) {}

FileReplacement::~FileReplacement() = default;

bool FileReplacement::failWith(const QString &reason) {
    if (!failed_)
        error_ = reason;
    failed_ = true;
    return false;
}

void FileReplacement::fail(const QString &reason) {
    failWith(reason);
}

void FileReplacement::requireUnchanged(const fs::path &path, const FileIdentity &identity) {
    parts_->unchanged = std::make_pair(path, identity);
}

#ifdef Q_OS_WIN

bool FileReplacement::open() {
    if (failed_)
        return false;
    // Unbuffered, so that every failed write shows in the write itself.
    if (!parts_->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failWith(parts_->file.errorString());
    return true;
}

bool FileReplacement::write(const char *data, qint64 size) {
    if (failed_ || finished_ || !parts_->file.isOpen())
        return false;
    for (qint64 done = 0; done < size;) {
        const qint64 n = parts_->file.write(data + done, size - done);
        if (n <= 0)
            return failWith(parts_->file.errorString());
        done += n;
    }
    return true;
}

bool FileReplacement::writeAt(qint64 offset, const char *data, qint64 size) {
    if (failed_ || finished_ || !parts_->file.isOpen())
        return false;
    if (!parts_->file.seek(offset))
        return failWith(parts_->file.errorString());
    return write(data, size);
}

bool FileReplacement::readAt(qint64, char *, qint64) {
    return false;
}

bool FileReplacement::finish(qint64 expectedSize) {
    if (failed_ || finished_ || !parts_->file.isOpen())
        return false;
    if (!parts_->file.flush())
        return failWith(parts_->file.errorString());
    if (parts_->file.size() != expectedSize)
        return failWith(QStringLiteral("the new file has %1 bytes instead of %2")
                            .arg(parts_->file.size())
                            .arg(expectedSize));
    if (!system::flushToDisk(parts_->file.handle()))
        return failWith(system::errorText());
    finished_ = true;
    return true;
}

bool FileReplacement::commit() {
    if (!finished_) {
        parts_->file.cancelWriting();
        return false;
    }
    finished_ = false;
    if (parts_->unchanged && identityOf(parts_->unchanged->first) != parts_->unchanged->second) {
        parts_->file.cancelWriting();
        targetChanged_ = true;
        return failWith(QStringLiteral("another program changed the file meanwhile"));
    }
    if (!parts_->file.commit())
        return failWith(parts_->file.errorString());
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

bool FileReplacement::writeAt(qint64 offset, const char *data, qint64 size) {
    if (failed_ || finished_ || parts_->fd < 0)
        return false;
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pwrite(parts_->fd, data + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith(n < 0 ? system::errorText()
                                  : QStringLiteral("the system took no more bytes"));
        done += n;
    }
    parts_->appendAt = std::max(parts_->appendAt, offset + size);
    return true;
}

bool FileReplacement::write(const char *data, qint64 size) {
    return writeAt(parts_->appendAt, data, size);
}

bool FileReplacement::readAt(qint64 offset, char *data, qint64 size) {
    if (failed_ || parts_->fd < 0)
        return false;
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pread(parts_->fd, data + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith(n < 0 ? system::errorText()
                                  : QStringLiteral("the new file ended before its written end"));
        done += n;
    }
    return true;
}

bool FileReplacement::finish(qint64 expectedSize) {
    if (failed_ || finished_ || parts_->fd < 0)
        return false;
    struct stat status {};
    if (::fstat(parts_->fd, &status) != 0)
        return failWith(system::errorText());
    if (status.st_size != expectedSize)
        return failWith(QStringLiteral("the new file has %1 bytes instead of %2")
                            .arg(qint64(status.st_size))
                            .arg(expectedSize));
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
            return failWith(
                QStringLiteral("%1 is in the way; move it elsewhere").arg(nameText(staging)));
        if (::unlink(staging.c_str()) != 0 && errno != ENOENT)
            return failWith(system::errorText() + QStringLiteral(" (%1)").arg(nameText(staging)));
        const std::string self = "/proc/self/fd/" + std::to_string(p.fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, staging.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return failWith(system::errorText());
        p.name = staging;
    }
    if (p.unchanged && identityOf(p.unchanged->first) != p.unchanged->second) {
        targetChanged_ = true;
        return failWith(QStringLiteral("another program changed the file meanwhile"));
    }
    if (::rename(p.name.c_str(), p.target.c_str()) != 0)
        return failWith(system::errorText());
    p.name.clear();
    folderFlushError_ = system::flushFolder(p.folder());
    return true;
}

#endif

} // namespace tarnic
