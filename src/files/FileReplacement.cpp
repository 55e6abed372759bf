#include "files/FileReplacement.h"

#include "files/SystemCalls.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

#ifndef Q_OS_WIN
#include <cstdlib>
#endif

namespace tarnic {

namespace {

// A symbolic link is followed: its target is what gets replaced.
QString resolvedTarget(const QString &target) {
    const QFileInfo info(target);
    if (info.isSymLink()) {
        const QString canonical = info.canonicalFilePath();
        if (!canonical.isEmpty())
            return canonical;
    }
    return info.absoluteFilePath();
}

} // namespace

struct FileReplacement::Parts {
    QString target; // the file to replace, links followed
    std::optional<std::pair<QString, FileIdentity>> unchanged;
#ifdef Q_OS_WIN
    QSaveFile file;
    explicit Parts(const QString &path) : target(resolvedTarget(path)), file(target) {}
#else
    explicit Parts(const QString &path) : target(resolvedTarget(path)) {}
    ~Parts() {
        if (fd >= 0)
            ::close(fd);
        if (!name.isEmpty())
            ::unlink(QFile::encodeName(name).constData());
    }

    QString folder() const {
        return QFileInfo(target).absolutePath();
    }
    // The one name the new content takes before the rename; a name left by a
    // killed process is Tarnic's own, and is replaced.
    QString stagingName() const {
        return QDir(folder()).filePath(u'.' + QFileInfo(target).fileName() +
                                       QStringLiteral(".tarnic-new"));
    }

    int fd = -1;
    QString name;        // the new content's name while it has one
    qint64 appendAt = 0; // where write() appends
#endif
};

FileReplacement::FileReplacement(const QString &target) : parts_(std::make_unique<Parts>(target)) {}

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

void FileReplacement::requireUnchanged(const QString &path, const FileIdentity &identity) {
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
    const QByteArray folder = QFile::encodeName(p.folder());
#ifdef O_TMPFILE
    if (QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        p.fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (p.fd < 0) {
        // No unnamed files here: a hidden name beside the target instead.
        QByteArray pattern = QFile::encodeName(QDir(p.folder())
                                                   .filePath(u'.' + QFileInfo(p.target).fileName() +
                                                             QStringLiteral(".tarnic-XXXXXX")));
        p.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (p.fd < 0)
            return failWith(system::errorText());
        p.name = QFile::decodeName(pattern);
    }
    // The old file's owner, group and permissions; a new file gets what the
    // user's file-creation mask allows.
    struct stat old {};
    if (::stat(QFile::encodeName(p.target).constData(), &old) == 0) {
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
    if (p.name.isEmpty()) {
        // The unnamed content gets its name only now, just before the rename.
        const QString staging = p.stagingName();
        const QByteArray stagingBytes = QFile::encodeName(staging);
        ::unlink(stagingBytes.constData());
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(p.fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, stagingBytes.constData(),
                     AT_SYMLINK_FOLLOW) != 0)
            return failWith(system::errorText());
        p.name = staging;
    }
    if (p.unchanged && identityOf(p.unchanged->first) != p.unchanged->second) {
        targetChanged_ = true;
        return failWith(QStringLiteral("another program changed the file meanwhile"));
    }
    if (::rename(QFile::encodeName(p.name).constData(), QFile::encodeName(p.target).constData()) !=
        0)
        return failWith(system::errorText());
    p.name.clear();
    system::flushFolder(p.folder());
    return true;
}

#endif

} // namespace tarnic
