#include "files/Crc32.h"

#include <libdeflate.h>
#include <zlib.h>

namespace tarnic {

std::uint32_t crc32(std::uint32_t crc, const void *data, std::size_t size) {
    return libdeflate_crc32(crc, data, size);
}

std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::int64_t secondLength) {
    return std::uint32_t(::crc32_combine(first, second, z_off_t(secondLength)));
}

std::uint32_t adler32(std::uint32_t adler, const void *data, std::size_t size) {
    return libdeflate_adler32(adler, data, size);
}

} // namespace tarnic
