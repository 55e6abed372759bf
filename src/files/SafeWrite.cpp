#include "files/SafeWrite.h"

#include "files/FileReader.h"
#include "files/SystemCalls.h"

#include <cstring>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

namespace tarnic {

namespace fs = std::filesystem;

bool isMarkedReadOnly(const fs::path &path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY);
#else
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 || !(status.st_mode & S_IWUSR);
#endif
}

bool isWritableFile(const fs::path &path) {
    return whyNotWritable(path).empty();
}

std::string whyNotWritable(const fs::path &path) {
    if (path.empty())
        return std::string("no file named");
    std::error_code error;
    if (!fs::exists(path, error))
        return error ? error.message() : std::string("missing");
    if (!fs::is_regular_file(path, error))
        return std::string("not a plain file");
    if (isMarkedReadOnly(path))
        return std::string("marked read-only");
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return system::errorText();
    CloseHandle(file);
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
#ifdef _WIN32
    std::error_code error;
    return a && b && fs::equivalent(first, second, error);
#else
    return a && b && sameFileAs(*a, *b);
#endif
}

bool readAt(Reader &from, std::int64_t offset, char *into, std::int64_t size) {
    return from.readAt(offset, into, size) == size;
}

bool copyStream(Reader &from, Writer &to, const ChunkTransform &transform) {
    std::vector<char> buffer(kCopyChunkSize);
    for (;;) {
        // Whole pieces unless the file ends, so that every piece but the last
        // has the same (even) size whatever the device hands back at once.
        const std::int64_t got = from.read(buffer.data(), kCopyChunkSize);
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

WriteStatus replaceWithTransformed(Reader &from, std::int64_t length, const fs::path &target,
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

bool replaceFileContent(const fs::path &path, std::string_view content) {
    FileReplacement file(path);
    return file.open() && file.write(content) && file.finish(std::int64_t(content.size())) &&
           file.commit();
}

namespace {

#ifndef _WIN32
// Writes all of `bytes` at `offset` and flushes them to disk; false on a
// short write, a failed write or a failed flush, with the reason in `whyNot`.
bool writeAndFlush(int fd, std::string_view bytes, std::int64_t offset, std::string &whyNot) {
    ssize_t n;
    do
        n = ::pwrite(fd, bytes.data(), size_t(bytes.size()), offset);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        whyNot = system::errorText();
        return false;
    }
    if (size_t(n) != bytes.size()) {
        whyNot = "the system wrote " + std::to_string(n) + " of " + std::to_string(bytes.size()) +
                 " bytes";
        return false;
    }
    if (!system::flushToDisk(fd)) {
        whyNot = system::errorText();
        return false;
    }
    return true;
}

bool holds(int fd, std::string_view bytes, std::int64_t offset) {
    std::string now(bytes.size(), '\0');
    return ::pread(fd, now.data(), now.size(), offset) == ssize_t(now.size()) && now == bytes;
}

enum class InPlace { NotTried, Written, Restored, Unknown, Changed };

// The in-place path of replaceBytes(). `unchanged`, when given, must still
// hold before the write; should the write and the restore both fail, it
// becomes the file as this attempt left it.
InPlace overwriteOneSector(const fs::path &path, std::int64_t offset, std::string_view bytes,
                           std::optional<KeepUnchanged> &unchanged, std::string &whyNot) {
    constexpr std::int64_t kSectorSize = 512;
    const std::int64_t size = std::int64_t(bytes.size());
    if (bytes.empty() || offset / kSectorSize != (offset + size - 1) / kSectorSize)
        return InPlace::NotTried;
    const int fd = system::openRegular(path, O_RDWR);
    if (fd < 0)
        return InPlace::NotTried;
    struct stat status {};
    std::string old(bytes.size(), '\0');
    if (::fstat(fd, &status) != 0 || status.st_nlink != 1 || offset + size > status.st_size ||
        ::pread(fd, old.data(), old.size(), offset) != ssize_t(old.size())) {
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
        std::string restoreFailed;
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

WriteStatus replaceBytes(const fs::path &path, std::int64_t offset, std::string_view bytes,
                         std::optional<KeepUnchanged> unchanged) {
    if (offset < 0 || !isWritableFile(path))
        return {};
#ifndef _WIN32
    std::string whyNot;
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
    FileReader file;
    if (!file.open(path))
        return {};
    const std::int64_t length = file.size();
    const std::int64_t size = std::int64_t(bytes.size());
    if (offset + size > length)
        return {};
    std::int64_t pieceStart = 0;
    const auto overlay = [&](char *data, std::int64_t pieceSize) {
        const std::int64_t from = std::max(offset, pieceStart);
        const std::int64_t to = std::min(offset + size, pieceStart + pieceSize);
        if (from < to)
            std::memcpy(data + (from - pieceStart), bytes.data() + (from - offset),
                        size_t(to - from));
        pieceStart += pieceSize;
    };
    return replaceWithTransformed(file, length, path, overlay, unchanged);
}

bool resetAttributesToNormal(const fs::path &path) {
#ifdef _WIN32
    return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
#else
    std::error_code error;
    return fs::exists(path, error);
#endif
}

ReplacedFileRelease::ReplacedFileRelease(const fs::path &path) {
#ifndef _WIN32
    descriptor_ = system::openRegular(path, O_RDONLY);
#else
    (void)path;
#endif
}

ReplacedFileRelease::~ReplacedFileRelease() {
#ifndef _WIN32
    if (descriptor_ >= 0)
        std::thread([fd = descriptor_] { ::close(fd); }).detach();
#endif
}

} // namespace tarnic
