#pragma once
// VCDIFF's numbers, read and written: big-endian, 7 bits a byte, the top bit set on every byte
// but the last (300 -> 82 2C). Internal to src/patch/xdelta.

#include <cstdint>
#include <optional>
#include <string>

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

// Appends `value` as a VCDIFF number.
inline void appendVcdiffNumber(std::string &to, std::uint64_t value) {
    char bytes[10];
    int count = 0;
    do {
        bytes[9 - count++] = char(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    for (int i = 10 - count; i < 9; ++i)
        bytes[i] = char(bytes[i] | 0x80);
    to.append(bytes + 10 - count, size_t(count));
}

// How many bytes `value` takes as a VCDIFF number.
inline int vcdiffNumberSize(std::uint64_t value) {
    int size = 1;
    while (value >>= 7)
        ++size;
    return size;
}

} // namespace tarnic
