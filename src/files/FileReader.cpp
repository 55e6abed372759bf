#include "files/FileReader.h"

#include "files/SystemCalls.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace tarnic {

FileReader::~FileReader() {
    close();
}

#ifdef _WIN32

bool FileReader::open(const std::filesystem::path &path) {
    close();
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        setError(system::errorText());
        return false;
    }
    handle_ = file;
    return true;
}

bool FileReader::isOpen() const {
    return handle_ != nullptr;
}

void FileReader::close() {
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

std::int64_t FileReader::size() const {
    LARGE_INTEGER size{};
    return handle_ && GetFileSizeEx(static_cast<HANDLE>(handle_), &size) ? size.QuadPart : 0;
}

std::int64_t FileReader::readAt(std::int64_t offset, char *into, std::int64_t count) {
    if (!handle_ || offset < 0 || count < 0)
        return -1;
    std::int64_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        at.Offset = DWORD(std::uint64_t(offset + done));
        at.OffsetHigh = DWORD(std::uint64_t(offset + done) >> 32);
        DWORD n = 0;
        const DWORD wanted = DWORD(std::min<std::int64_t>(count - done, 1 << 30));
        if (!ReadFile(static_cast<HANDLE>(handle_), into + done, wanted, &n, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            setError(system::errorText());
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

const char *FileReader::map(std::int64_t, std::int64_t) {
    return nullptr;
}

void FileReader::unmap() {}

#else

bool FileReader::open(const std::filesystem::path &path) {
    close();
    if (path.empty())
        return false;
    descriptor_ = system::openRegular(path, O_RDONLY);
    if (descriptor_ < 0)
        setError(system::errorText());
    return descriptor_ >= 0;
}

bool FileReader::isOpen() const {
    return descriptor_ >= 0;
}

void FileReader::close() {
    unmap();
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
}

std::int64_t FileReader::size() const {
    struct stat status {};
    return descriptor_ >= 0 && ::fstat(descriptor_, &status) == 0 ? status.st_size : 0;
}

std::int64_t FileReader::readAt(std::int64_t offset, char *into, std::int64_t count) {
    if (descriptor_ < 0 || offset < 0 || count < 0)
        return -1;
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(descriptor_, into + done, size_t(count - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setError(system::errorText());
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

const char *FileReader::map(std::int64_t offset, std::int64_t count) {
    unmap();
    if (descriptor_ < 0 || offset < 0 || count <= 0 || offset + count > size())
        return nullptr;
    static const std::int64_t page = ::sysconf(_SC_PAGESIZE);
    const std::int64_t start = offset - offset % page;
    const size_t length = size_t(count + (offset - start));
    // Every page is mapped at once: callers read all of what they map, and
    // not always from the start onwards (a fault a page costs far more).
    int flags = MAP_SHARED;
#if defined(MAP_POPULATE)
    flags |= MAP_POPULATE;
#endif
    void *mapped = ::mmap(nullptr, length, PROT_READ, flags, descriptor_, start);
    if (mapped == MAP_FAILED)
        return nullptr;
    mapped_ = mapped;
    mappedLength_ = length;
    return static_cast<const char *>(mapped) + (offset - start);
}

void FileReader::unmap() {
    if (mapped_)
        ::munmap(mapped_, mappedLength_);
    mapped_ = nullptr;
    mappedLength_ = 0;
}

#endif

} // namespace tarnic
