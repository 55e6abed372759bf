#include "files/SafeWrite.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnic {

namespace {

#ifndef Q_OS_WIN
// Opens without waiting (a FIFO would block an ordinary open for ever) and
// keeps the descriptor only when it is a plain file.
int openRegularDescriptor(const QString &path, int access) {
    const int fd = ::open(QFile::encodeName(path).constData(), access | O_NONBLOCK | O_CLOEXEC);
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

// The reason of the last failed system call, in the system's words.
QString systemErrorText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool flushToDisk(int fd) {
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
#else
    for (;;) {
#ifdef Q_OS_LINUX
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
// returns, so a failure here is not the operation's failure.
void flushFolder(const QString &folder) {
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

} // namespace

bool isMarkedReadOnly(const QString &path) {
    return !(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
}

bool openRegularFile(QFile &file, const QString &path) {
    if (path.isEmpty())
        return false;
    file.setFileName(path);
#ifdef Q_OS_WIN
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
#else
    const int fd = openRegularDescriptor(path, O_RDONLY);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

bool isWritableFile(const QString &path) {
    if (path.isEmpty() || isMarkedReadOnly(path))
        return false;
#ifdef Q_OS_WIN
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
#else
    const int fd = openRegularDescriptor(path, O_RDWR);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
#endif
}

bool canBeCreatedOrReplaced(const QString &path) {
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return isWritableFile(path);
    return !path.isEmpty();
}

qint64 readFully(QIODevice &from, char *into, qint64 size) {
    qint64 got = 0;
    while (got < size) {
        const qint64 n = from.read(into + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

FileReplacement::FileReplacement(const QString &target) : file_(target) {}

bool FileReplacement::failWith(const QString &reason) {
    if (!failed_)
        error_ = reason;
    failed_ = true;
    return false;
}

void FileReplacement::fail(const QString &reason) {
    failWith(reason);
}

bool FileReplacement::open() {
    // Unbuffered, so that every failed write shows in the write itself rather
    // than in a flush that nothing checks.
    if (failed_)
        return false;
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failWith(file_.errorString());
    return true;
}

bool FileReplacement::write(const char *data, qint64 size) {
    if (failed_ || finished_ || !file_.isOpen())
        return false;
    for (qint64 done = 0; done < size;) {
        const qint64 n = file_.write(data + done, size - done);
        if (n <= 0)
            return failWith(file_.errorString());
        done += n;
    }
    return true;
}

bool FileReplacement::writeAt(qint64 offset, const char *data, qint64 size) {
    if (failed_ || finished_ || !file_.isOpen())
        return false;
    if (!file_.seek(offset))
        return failWith(file_.errorString());
    return write(data, size);
}

bool FileReplacement::finish(qint64 expectedSize) {
    if (failed_ || finished_ || !file_.isOpen())
        return false;
    if (!file_.flush())
        return failWith(file_.errorString());
    if (file_.size() != expectedSize)
        return failWith(QStringLiteral("the new file has %1 bytes instead of %2")
                            .arg(file_.size())
                            .arg(expectedSize));
    if (!flushToDisk(file_.handle()))
        return failWith(systemErrorText());
    finished_ = true;
    return true;
}

bool FileReplacement::commit() {
    if (!finished_) {
        file_.cancelWriting();
        return false;
    }
    finished_ = false;
    if (!file_.commit())
        return failWith(file_.errorString());
    flushFolder(QFileInfo(file_.fileName()).absolutePath());
    return true;
}

bool copyStream(QIODevice &from, FileReplacement &to, const ChunkTransform &transform) {
    std::vector<char> buffer(kCopyChunkSize);
    for (;;) {
        // Whole pieces unless the file ends, so that every piece but the last
        // has the same (even) size whatever the device hands back at once.
        const qint64 got = readFully(from, buffer.data(), kCopyChunkSize);
        if (got < 0) {
            to.fail(from.errorString());
            return false;
        }
        if (got == 0)
            return true;
        if (transform)
            transform(buffer.data(), got);
        if (!to.write(buffer.data(), got))
            return false;
    }
}

bool replaceWithTransformed(QIODevice &from, qint64 length, const QString &target,
                            const ChunkTransform &transform, QString *whyNot) {
    ReplacedFileRelease oldContent(target);
    FileReplacement replacement(target);
    if (replacement.open() && copyStream(from, replacement, transform) &&
        replacement.finish(length) && replacement.commit())
        return true;
    if (whyNot)
        *whyNot = replacement.errorString();
    return false;
}

bool replaceFileContent(const QString &path, const QByteArray &content) {
    FileReplacement file(path);
    return file.open() && file.write(content) && file.finish(content.size()) && file.commit();
}

namespace {

#ifndef Q_OS_WIN
// The in-place path of replaceBytes(): true when it wrote the bytes, false with
// `tried` unset when it does not apply.
bool overwriteOneSector(const QString &path, qint64 offset, const QByteArray &bytes, bool &tried,
                        QString *whyNot) {
    constexpr qint64 kSectorSize = 512;
    tried = false;
    if (bytes.isEmpty() || offset / kSectorSize != (offset + bytes.size() - 1) / kSectorSize)
        return false;
    const int fd = openRegularDescriptor(path, O_RDWR);
    if (fd < 0)
        return false;
    struct stat status {};
    QByteArray old(bytes.size(), '\0');
    if (::fstat(fd, &status) != 0 || status.st_nlink != 1 ||
        offset + bytes.size() > status.st_size ||
        ::pread(fd, old.data(), old.size(), offset) != old.size()) {
        ::close(fd);
        return false;
    }
    tried = true;
    const bool written = ::pwrite(fd, bytes.constData(), bytes.size(), offset) == bytes.size();
    const bool onDisk = written && flushToDisk(fd);
    if (!onDisk && whyNot)
        *whyNot = systemErrorText();
    if (written && !onDisk)
        ::pwrite(fd, old.constData(), old.size(), offset);
    ::close(fd);
    return onDisk;
}
#endif

} // namespace

bool replaceBytes(const QString &path, qint64 offset, const QByteArray &bytes, QString *whyNot) {
    if (offset < 0 || !isWritableFile(path))
        return false;
#ifndef Q_OS_WIN
    bool tried = false;
    const bool written = overwriteOneSector(path, offset, bytes, tried, whyNot);
    if (tried)
        return written;
#endif
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    const qint64 length = file.size();
    if (offset + bytes.size() > length)
        return false;
    qint64 pieceStart = 0;
    const auto overlay = [&](char *data, qint64 size) {
        const qint64 from = std::max(offset, pieceStart);
        const qint64 to = std::min(offset + bytes.size(), pieceStart + size);
        if (from < to)
            std::memcpy(data + (from - pieceStart), bytes.constData() + (from - offset), to - from);
        pieceStart += size;
    };
    return replaceWithTransformed(file, length, path, overlay, whyNot);
}

bool resetAttributesToNormal(const QString &path) {
#ifdef Q_OS_WIN
    return SetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()),
                              FILE_ATTRIBUTE_NORMAL) != 0;
#else
    return QFileInfo::exists(path);
#endif
}

namespace {

namespace fs = std::filesystem;

// The file itself, not a symbolic link that leads to it.
fs::path realFile(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? fs::path() : QFileInfo(target).filesystemFilePath();
}

bool linkAsBackup(const QString &filePath, const QString &backupPath, QString *whyNot) {
    const fs::path target = realFile(filePath);
    if (target.empty())
        return false;
    if (sameFile(filePath, backupPath))
        return true; // already a second name of the file
    const fs::path backup = QFileInfo(backupPath).filesystemAbsoluteFilePath();
    fs::path staging = backup;
    staging += ".tarnic-link";
    std::error_code error;
    fs::remove(staging, error); // left by a process that was killed here
    fs::create_hard_link(target, staging, error);
    if (!error)
        fs::rename(staging, backup, error); // replaces the old backup in one step
    std::error_code ignored;
    fs::remove(staging, ignored);
    if (error && whyNot)
        *whyNot = QString::fromLocal8Bit(error.message());
    return !error;
}

bool copyAsBackup(const QString &filePath, const QString &backupPath, QString *whyNot = nullptr) {
    QFile file;
    FileReplacement backup(backupPath);
    if (!openRegularFile(file, filePath))
        backup.fail(QStringLiteral("the image cannot be read"));
    if (backup.open() && copyStream(file, backup) && backup.finish(file.size()) && backup.commit())
        return true;
    if (whyNot)
        *whyNot = backup.errorString();
    return false;
}

} // namespace

bool sameFile(const QString &first, const QString &second) {
    std::error_code error;
    const fs::path file = realFile(first);
    return !file.empty() &&
           fs::equivalent(file, QFileInfo(second).filesystemAbsoluteFilePath(), error);
}

bool keepAsBackup(const QString &filePath, const QString &backupPath, QString *whyNot) {
    // An earlier backup is made writable by its owner before it is replaced.
    if (QFileInfo::exists(backupPath) &&
        !(resetAttributesToNormal(backupPath) &&
          QFile::setPermissions(backupPath,
                                QFile::permissions(backupPath) | QFileDevice::WriteOwner))) {
        if (whyNot)
            *whyNot = QStringLiteral("the earlier backup cannot be made writable");
        return false;
    }
    ReplacedFileRelease oldBackup(backupPath);
    return linkAsBackup(filePath, backupPath, nullptr) ||
           copyAsBackup(filePath, backupPath, whyNot);
}

void separateBackup(const QString &filePath, const QString &backupPath) {
    if (sameFile(filePath, backupPath))
        copyAsBackup(filePath, backupPath);
}

ReplacedFileRelease::ReplacedFileRelease(const QString &path) {
#ifndef Q_OS_WIN
    descriptor_ = openRegularDescriptor(path, O_RDONLY);
#else
    Q_UNUSED(path);
#endif
}

ReplacedFileRelease::~ReplacedFileRelease() {
#ifndef Q_OS_WIN
    if (descriptor_ >= 0)
        std::thread([fd = descriptor_] { ::close(fd); }).detach();
#endif
}

} // namespace tarnic
