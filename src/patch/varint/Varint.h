#pragma once
// The variable-length numbers of UPS and BPS: 7 bits a byte, least significant
// group first, the last byte marked by its top bit, and one subtracted after
// each byte that is not the last, so that every number has one encoding:
//   0 -> 80, 127 -> FF, 128 -> 00 80, 300 -> 2C 81.

#include "io/Reader.h"
#include <string>

#include <cstdint>
#include <optional>

namespace tarnic {

// Reads a number whose bytes `next()` hands out (none where the input ends).
// None when the input ends first, or the number does not fit in 64 bits (then
// `tooLong`, when given, is set).
template <typename NextByte>
std::optional<std::uint64_t> readVarint(NextByte &&next, bool *tooLong = nullptr) {
    const auto overflow = [tooLong]() -> std::optional<std::uint64_t> {
        if (tooLong)
            *tooLong = true;
        return std::nullopt;
    };
    std::uint64_t value = 0;
    std::uint64_t shift = 1;
    for (int count = 0; count < 10; ++count) {
        const std::optional<std::uint8_t> byte = next();
        if (!byte)
            return std::nullopt;
        const std::uint64_t part = std::uint64_t(*byte & 0x7F) * shift;
        if ((shift != 0 && part / shift != std::uint64_t(*byte & 0x7F)) || value + part < value)
            return overflow();
        value += part;
        if (*byte & 0x80)
            return value;
        if (shift > (UINT64_MAX >> 7))
            return overflow();
        shift <<= 7;
        if (value + shift < value)
            return overflow();
        value += shift;
    }
    return overflow();
}

// The same read from a device.
inline std::optional<std::uint64_t> readVarintFrom(Reader &from, bool *tooLong = nullptr) {
    return readVarint(
        [&]() -> std::optional<std::uint8_t> {
            char c;
            if (!from.getChar(&c))
                return std::nullopt;
            return std::uint8_t(c);
        },
        tooLong);
}

inline void appendVarint(std::string &to, std::uint64_t value) {
    while (value >= 0x80) {
        to += char(value & 0x7F);
        value = (value >> 7) - 1;
    }
    to += char(value | 0x80);
}

} // namespace tarnic
