#include "io/Reader.h"

#include <algorithm>
#include <cstring>

namespace tarnic {

namespace {

// Reads in order smaller than this go through the buffer.
constexpr std::int64_t kBufferSize = 64 * 1024;

} // namespace

const char *Reader::map(std::int64_t, std::int64_t) {
    return nullptr;
}

bool Reader::seek(std::int64_t position) {
    if (position < 0)
        return false;
    position_ = position;
    return true;
}

std::int64_t Reader::read(char *into, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t buffered = bufferStart_ + std::int64_t(buffer_.size());
        if (position_ >= bufferStart_ && position_ < buffered) {
            const std::int64_t n = std::min(count - done, buffered - position_);
            std::memcpy(into + done, buffer_.data() + (position_ - bufferStart_), size_t(n));
            done += n;
            position_ += n;
            continue;
        }
        const std::int64_t left = count - done;
        if (left >= kBufferSize) {
            const std::int64_t n = readAt(position_, into + done, left);
            if (n < 0)
                return -1;
            done += n;
            position_ += n;
            break;
        }
        buffer_.resize(size_t(kBufferSize));
        const std::int64_t n = readAt(position_, buffer_.data(), kBufferSize);
        if (n < 0) {
            buffer_.clear();
            return -1;
        }
        buffer_.resize(size_t(n));
        bufferStart_ = position_;
        if (n == 0)
            break;
    }
    return done;
}

std::string Reader::read(std::int64_t count) {
    std::string bytes(size_t(std::max<std::int64_t>(count, 0)), '\0');
    const std::int64_t n = read(bytes.data(), count);
    bytes.resize(size_t(std::max<std::int64_t>(n, 0)));
    return bytes;
}

bool Reader::getChar(char *into) {
    return read(into, 1) == 1;
}

std::int64_t MemoryReader::readAt(std::int64_t offset, char *into, std::int64_t count) {
    if (offset < 0 || count < 0)
        return -1;
    if (offset >= size())
        return 0;
    const std::int64_t n = std::min(count, size() - offset);
    std::memcpy(into, bytes_.data() + offset, size_t(n));
    return n;
}

const char *MemoryReader::map(std::int64_t offset, std::int64_t count) {
    if (offset < 0 || count < 0 || offset + count > size())
        return nullptr;
    return bytes_.data() + offset;
}

} // namespace tarnic
