#pragma once
// VCDIFF's numbers: big-endian, 7 bits a byte, the top bit set on every byte
// but the last (300 -> 82 2C). Internal to src/patch/xdelta.

#include <cstdint>
#include <optional>

namespace tarnic {

// Reads a number whose bytes `next()` hands out (none where the input
// ends); none when the input ends first or the number does not fit in 64
// bits (then `tooLong`).
template <typename NextByte>
std::optional<std::uint64_t> readVcdiffNumber(NextByte &&next, bool &tooLong) {
    std::uint64_t value = 0;
    for (int count = 0; count < 10; ++count) {
        const std::optional<std::uint8_t> byte = next();
        if (!byte)
            return std::nullopt;
        if (value >> 57) {
            tooLong = true;
            return std::nullopt;
        }
        value = (value << 7) | (*byte & 0x7F);
        if (!(*byte & 0x80))
            return value;
    }
    tooLong = true;
    return std::nullopt;
}

} // namespace tarnic
