#pragma once
// Name tables and text forms shared by the patch side and the image side of
// the main window. Both sides build their texts here, so equal header values
// give texts that compare equal character for character (padding included).

#include "strings/Strings.h"

#include <array>
#include <cstdint>
#include <string>

namespace tarnic {

using CrcBytes = std::array<std::uint8_t, 4>;

inline constexpr int kImageNameWidth = 20;

// Index 0: byte-swapped order, file starts 0x37 0x80.
// Index 1: cartridge order, file starts 0x80 0x37.
// The same index is the target-format byte of an APS header.
extern const std::array<std::string, 2> ImageFormatNames;
// The third byte order, which the copiers' two names leave out.
extern const std::string LittleEndianFormatName;

// Indexed by countryIndex(); entry 5 is the fallback for every unknown code.
extern const std::array<std::string, 6> CountryNames;

// The CountryNames index of a country code byte: D E J P U give 0 to 4,
// anything else 5.
int countryIndex(std::uint8_t code);

// A byte as exactly two uppercase hexadecimal digits ("0A", "FF").
std::string twoDigitHex(std::uint8_t value);

// Four bytes, first byte first, as eight hexadecimal digits.
std::string hexText(const CrcBytes &bytes);

// "XXXXXXXX : XXXXXXXX": 19 characters, both values in cartridge order.
std::string crcText(const CrcBytes &crc1, const CrcBytes &crc2);

} // namespace tarnic
