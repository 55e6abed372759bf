#include "files/SafeWrite.h"

#include "files/SystemCalls.h"

#include <QFileInfo>
#include <QMutex>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

namespace tarnic {

namespace fs = std::filesystem;

bool isMarkedReadOnly(const fs::path &path) {
#ifdef Q_OS_WIN
    return !(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
#else
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 || !(status.st_mode & S_IWUSR);
#endif
}

bool openRegularFile(QFile &file, const fs::path &path) {
    if (path.empty())
        return false;
#ifdef Q_OS_WIN
    file.setFileName(path);
#else
    // Qt is told no name: it would spell one that is not UTF-8 differently.
    file.setFileName(QString());
#endif
#ifdef Q_OS_WIN
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
#else
    const int fd = system::openRegular(path, O_RDONLY);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

bool isWritableFile(const fs::path &path) {
    return whyNotWritable(path).isEmpty();
}

QString whyNotWritable(const fs::path &path) {
    if (path.empty())
        return QStringLiteral("no file named");
    std::error_code error;
    if (!fs::exists(path, error))
        return error ? QString::fromLocal8Bit(error.message()) : QStringLiteral("missing");
    if (!fs::is_regular_file(path, error))
        return QStringLiteral("not a plain file");
    if (isMarkedReadOnly(path))
        return QStringLiteral("marked read-only");
#ifdef Q_OS_WIN
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return file.errorString();
#else
    const int fd = system::openRegular(path, O_RDWR);
    if (fd < 0)
        return system::errorText();
    ::close(fd);
#endif
    return {};
}

bool canBeCreatedOrReplaced(const fs::path &path) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error)))
        return isWritableFile(path);
    return !path.empty();
}

bool sameFile(const fs::path &first, const fs::path &second) {
    const std::optional<FileIdentity> a = identityOf(first);
    const std::optional<FileIdentity> b = identityOf(second);
#ifdef Q_OS_WIN
    return a && b && QFileInfo(first).canonicalFilePath() == QFileInfo(second).canonicalFilePath();
#else
    return a && b && sameFileAs(*a, *b);
#endif
}

bool readAt(QFile &file, qint64 offset, char *into, qint64 size) {
#ifdef Q_OS_WIN
    static QMutex serial; // one position per file here
    QMutexLocker locked(&serial);
    return file.seek(offset) && readFully(file, into, size) == size;
#else
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pread(file.handle(), into + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
#endif
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

namespace {

// A write that failed because the file changed under it (it grew while it
// was read, say) says so.
WriteStatus statusOf(bool written, const FileReplacement &replacement,
                     const std::optional<KeepUnchanged> &unchanged) {
    if (written)
        return {WriteStatus::Written, {}, replacement.folderFlushError()};
    const bool changed = replacement.targetChanged() ||
                         (unchanged && identityOf(unchanged->path) != unchanged->identity);
    return {changed ? WriteStatus::Changed : WriteStatus::Failed, replacement.errorString(), {}};
}

} // namespace

WriteStatus replaceWithTransformed(QIODevice &from, qint64 length, const fs::path &target,
                                   const ChunkTransform &transform,
                                   const std::optional<KeepUnchanged> &unchanged) {
    ReplacedFileRelease oldContent(target);
    FileReplacement replacement(target);
    if (unchanged)
        replacement.requireUnchanged(unchanged->path, unchanged->identity);
    const bool written = replacement.open() && copyStream(from, replacement, transform) &&
                         replacement.finish(length) && replacement.commit();
    return statusOf(written, replacement, unchanged);
}

bool replaceFileContent(const fs::path &path, const QByteArray &content) {
    FileReplacement file(path);
    return file.open() && file.write(content) && file.finish(content.size()) && file.commit();
}

namespace {

#ifndef Q_OS_WIN
// Writes all of `bytes` at `offset` and flushes them to disk; false on a
// short write, a failed write or a failed flush, with the reason in `whyNot`.
bool writeAndFlush(int fd, const QByteArray &bytes, qint64 offset, QString &whyNot) {
    ssize_t n;
    do
        n = ::pwrite(fd, bytes.constData(), size_t(bytes.size()), offset);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        whyNot = system::errorText();
        return false;
    }
    if (n != bytes.size()) {
        whyNot = QStringLiteral("the system wrote %1 of %2 bytes").arg(n).arg(bytes.size());
        return false;
    }
    if (!system::flushToDisk(fd)) {
        whyNot = system::errorText();
        return false;
    }
    return true;
}

bool holds(int fd, const QByteArray &bytes, qint64 offset) {
    QByteArray now(bytes.size(), '\0');
    return ::pread(fd, now.data(), size_t(now.size()), offset) == now.size() && now == bytes;
}

enum class InPlace { NotTried, Written, Restored, Unknown, Changed };

// The in-place path of replaceBytes(). `unchanged`, when given, must still
// hold before the write; should the write and the restore both fail, it
// becomes the file as this attempt left it.
InPlace overwriteOneSector(const fs::path &path, qint64 offset, const QByteArray &bytes,
                           std::optional<KeepUnchanged> &unchanged, QString &whyNot) {
    constexpr qint64 kSectorSize = 512;
    if (bytes.isEmpty() || offset / kSectorSize != (offset + bytes.size() - 1) / kSectorSize)
        return InPlace::NotTried;
    const int fd = system::openRegular(path, O_RDWR);
    if (fd < 0)
        return InPlace::NotTried;
    struct stat status {};
    QByteArray old(bytes.size(), '\0');
    if (::fstat(fd, &status) != 0 || status.st_nlink != 1 ||
        offset + bytes.size() > status.st_size ||
        ::pread(fd, old.data(), size_t(old.size()), offset) != old.size()) {
        ::close(fd);
        return InPlace::NotTried;
    }
    if (unchanged && identityOf(unchanged->path) != unchanged->identity) {
        ::close(fd);
        return InPlace::Changed;
    }
    InPlace result = InPlace::Written;
    if (!writeAndFlush(fd, bytes, offset, whyNot)) {
        // Whatever part of the new bytes reached the file goes back.
        QString restoreFailed;
        result = writeAndFlush(fd, old, offset, restoreFailed) && holds(fd, old, offset)
                     ? InPlace::Restored
                     : InPlace::Unknown;
        // The file is as this program's own writes left it, which the
        // rewrite that follows must not take for another program's change.
        if (result == InPlace::Unknown && unchanged) {
            struct stat now {};
            if (::fstat(fd, &now) == 0) {
                unchanged->identity.size = now.st_size;
                unchanged->identity.modifiedSeconds = now.st_mtim.tv_sec;
                unchanged->identity.modifiedNanoseconds = now.st_mtim.tv_nsec;
            }
        }
    }
    ::close(fd);
    return result;
}
#endif

} // namespace

WriteStatus replaceBytes(const fs::path &path, qint64 offset, const QByteArray &bytes,
                         std::optional<KeepUnchanged> unchanged) {
    if (offset < 0 || !isWritableFile(path))
        return {};
#ifndef Q_OS_WIN
    QString whyNot;
    switch (overwriteOneSector(path, offset, bytes, unchanged, whyNot)) {
    case InPlace::Written:
        return {WriteStatus::Written, {}, {}};
    case InPlace::Restored:
        return {WriteStatus::Failed, whyNot, {}};
    case InPlace::Changed:
        return {WriteStatus::Changed, {}, {}};
    case InPlace::Unknown:  // neither old nor new for sure: the whole file is
    case InPlace::NotTried: // rewritten, with the new bytes
        break;
    }
#endif
    QFile file;
    if (!openRegularFile(file, path))
        return {};
    const qint64 length = file.size();
    if (offset + bytes.size() > length)
        return {};
    qint64 pieceStart = 0;
    const auto overlay = [&](char *data, qint64 size) {
        const qint64 from = std::max(offset, pieceStart);
        const qint64 to = std::min(offset + bytes.size(), pieceStart + size);
        if (from < to)
            std::memcpy(data + (from - pieceStart), bytes.constData() + (from - offset), to - from);
        pieceStart += size;
    };
    return replaceWithTransformed(file, length, path, overlay, unchanged);
}

bool resetAttributesToNormal(const fs::path &path) {
#ifdef Q_OS_WIN
    return SetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()),
                              FILE_ATTRIBUTE_NORMAL) != 0;
#else
    std::error_code error;
    return fs::exists(path, error);
#endif
}

ReplacedFileRelease::ReplacedFileRelease(const fs::path &path) {
#ifndef Q_OS_WIN
    descriptor_ = system::openRegular(path, O_RDONLY);
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
