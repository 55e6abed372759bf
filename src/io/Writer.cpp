#include "io/Writer.h"

#include <cstring>

namespace tarnic {

bool MemoryWriter::writeAt(std::int64_t offset, const char *data, std::int64_t size) {
    if (failed_ || offset < 0 || size < 0)
        return false;
    if (std::uint64_t(offset + size) > bytes_.size())
        bytes_.resize(size_t(offset + size), '\0');
    std::memcpy(bytes_.data() + offset, data, size_t(size));
    wrote(offset, size);
    return true;
}

bool MemoryWriter::readAt(std::int64_t offset, char *data, std::int64_t size) {
    if (failed_ || offset < 0 || size < 0 || std::uint64_t(offset + size) > bytes_.size())
        return false;
    std::memcpy(data, bytes_.data() + offset, size_t(size));
    return true;
}

bool MemoryWriter::finish(std::int64_t size) {
    if (failed_)
        return false;
    if (std::uint64_t(size) != bytes_.size()) {
        fail("the content has " + std::to_string(bytes_.size()) + " bytes instead of " +
             std::to_string(size));
        return false;
    }
    return true;
}

void MemoryWriter::fail(const std::string &reason) {
    if (!failed_)
        error_ = reason;
    failed_ = true;
}

} // namespace tarnic
