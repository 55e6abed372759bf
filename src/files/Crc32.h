#pragma once
// The CRC-32 that UPS and BPS patches carry (zlib's: reflected polynomial
// 0xEDB88320, initial and final value 0xFFFFFFFF), computed by libdeflate,
// which uses the processor's carry-less multiply where there is one.

#include <cstddef>
#include <cstdint>

namespace tarnic {

// The CRC-32 of `size` bytes following `crc`, the CRC-32 of what came before
// (0 for nothing).
std::uint32_t crc32(std::uint32_t crc, const void *data, std::size_t size);

// The CRC-32 of two pieces one after the other, from the CRC-32 of each and
// the length of the second (zlib's crc32_combine).
std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::int64_t secondLength);

// The Adler-32 (zlib's: sums modulo 65521, starting from 1) xdelta checks
// each window of its result with: of `size` bytes following `adler`, the
// Adler-32 of what came before (1 for nothing); also by libdeflate.
std::uint32_t adler32(std::uint32_t adler, const void *data, std::size_t size);

} // namespace tarnic
