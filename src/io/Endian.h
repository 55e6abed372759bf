#pragma once
// Numbers stored in a given byte order, read from and written to memory
// whatever the processor's own order.

#include <cstdint>
#include <type_traits>

namespace tarnic {

template <typename T> T fromLittleEndian(const void *at) {
    const auto *bytes = static_cast<const std::uint8_t *>(at);
    std::make_unsigned_t<T> value = 0;
    for (int i = int(sizeof(T)) - 1; i >= 0; --i)
        value = std::make_unsigned_t<T>(value << 8 | bytes[i]);
    return T(value);
}

template <typename T> T fromBigEndian(const void *at) {
    const auto *bytes = static_cast<const std::uint8_t *>(at);
    std::make_unsigned_t<T> value = 0;
    for (int i = 0; i < int(sizeof(T)); ++i)
        value = std::make_unsigned_t<T>(value << 8 | bytes[i]);
    return T(value);
}

template <typename T> void toLittleEndian(T value, void *at) {
    auto *bytes = static_cast<std::uint8_t *>(at);
    auto bits = std::make_unsigned_t<T>(value);
    for (int i = 0; i < int(sizeof(T)); ++i, bits = std::make_unsigned_t<T>(bits >> 8))
        bytes[i] = std::uint8_t(bits);
}

template <typename T> void toBigEndian(T value, void *at) {
    auto *bytes = static_cast<std::uint8_t *>(at);
    auto bits = std::make_unsigned_t<T>(value);
    for (int i = int(sizeof(T)) - 1; i >= 0; --i, bits = std::make_unsigned_t<T>(bits >> 8))
        bytes[i] = std::uint8_t(bits);
}

} // namespace tarnic
