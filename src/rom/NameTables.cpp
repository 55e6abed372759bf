#include "rom/NameTables.h"

namespace tarnic {

const std::array<std::string, 2> ImageFormatNames = {
    padRight(std::string("Doctor v64"), kImageNameWidth),
    padRight(std::string("CD64/Z64/Wc/SP"), kImageNameWidth),
};

const std::string LittleEndianFormatName =
    padRight(std::string("Little-Endian (n64)"), kImageNameWidth);

const std::array<std::string, 6> CountryNames = {
    padRight(std::string("44h  _Germany"), kImageNameWidth),
    padRight(std::string("45h  _USA"), kImageNameWidth),
    padRight(std::string("4Ah  _Japan"), kImageNameWidth),
    padRight(std::string("50h  _Europe"), kImageNameWidth),
    padRight(std::string("55h  _Australia"), kImageNameWidth),
    padRight(std::string("0x   _Unknown"), kImageNameWidth),
};

int countryIndex(std::uint8_t code) {
    switch (code) {
    case 0x44:
        return 0;
    case 0x45:
        return 1;
    case 0x4A:
        return 2;
    case 0x50:
        return 3;
    case 0x55:
        return 4;
    default:
        return 5;
    }
}

std::string twoDigitHex(std::uint8_t value) {
    return upperHex(value, 2);
}

std::string hexText(const CrcBytes &bytes) {
    std::string text;
    for (std::uint8_t b : bytes)
        text += twoDigitHex(b);
    return text;
}

std::string crcText(const CrcBytes &crc1, const CrcBytes &crc2) {
    return hexText(crc1) + std::string(" : ") + hexText(crc2);
}

} // namespace tarnic
