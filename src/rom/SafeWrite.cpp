#include "rom/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnic {

bool isMarkedReadOnly(const QString &path) {
    return !(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
}

bool isWritableFile(const QString &path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || isMarkedReadOnly(path))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
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

bool copyStream(QIODevice &from, QIODevice &to, const ChunkTransform &transform) {
    std::vector<char> buffer(kCopyChunkSize);
    for (;;) {
        // Whole pieces unless the file ends, so that every piece but the last
        // has the same (even) size whatever the device hands back at once.
        const qint64 got = readFully(from, buffer.data(), kCopyChunkSize);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (transform)
            transform(buffer.data(), got);
        if (to.write(buffer.data(), got) != got)
            return false;
    }
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

bool linkAsBackup(const QString &filePath, const QString &backupPath) {
    namespace fs = std::filesystem;
    // A link to the file itself, not to a symbolic link that leads to it.
    const QString target = QFileInfo(filePath).canonicalFilePath();
    if (target.isEmpty())
        return false;
    const fs::path backup = QFileInfo(backupPath).filesystemAbsoluteFilePath();
    fs::path staging = backup;
    staging += ".tarnic-link";
    std::error_code error;
    fs::remove(staging, error);
    fs::create_hard_link(QFileInfo(target).filesystemFilePath(), staging, error);
    if (error)
        return false;
    fs::rename(staging, backup, error); // replaces the old backup in one step
    if (error) {
        fs::remove(staging, error);
        return false;
    }
    return true;
}

bool copyAsBackup(const QString &filePath, const QString &backupPath) {
    QFile file(filePath);
    QSaveFile backup(backupPath);
    return file.open(QIODevice::ReadOnly) && backup.open(QIODevice::WriteOnly) &&
           copyStream(file, backup) && backup.commit();
}

} // namespace

bool keepAsBackup(const QString &filePath, const QString &backupPath) {
    // An earlier backup is made writable by its owner before it is replaced.
    if (QFileInfo::exists(backupPath) &&
        !(resetAttributesToNormal(backupPath) &&
          QFile::setPermissions(backupPath,
                                QFile::permissions(backupPath) | QFileDevice::WriteOwner)))
        return false;
    ReplacedFileRelease oldBackup(backupPath);
    return linkAsBackup(filePath, backupPath) || copyAsBackup(filePath, backupPath);
}

ReplacedFileRelease::ReplacedFileRelease(const QString &path) {
#ifndef Q_OS_WIN
    descriptor_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
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
