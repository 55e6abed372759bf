#pragma once
// The digests ROM databases list an image by: CRC-32, MD5 and SHA-1, of the
// file as it is stored and of the same image in cartridge (z64) order.

#include "rom/ImageHeader.h"

#include <string>

#include <cstdint>
#include <filesystem>

namespace tarnic {

struct Digests {
    std::uint32_t crc32 = 0;
    std::string md5;  // 16 raw bytes
    std::string sha1; // 20 raw bytes
};

struct ImageDigests {
    bool read = false; // false: the file could not be read
    Digests stored;
    Digests cartridgeOrder; // the same as `stored` for a z64 (or unrecognised) image
};

// Reads the image once, in pieces.
ImageDigests digestsOf(const std::filesystem::path &imagePath, ByteOrder own);

} // namespace tarnic
