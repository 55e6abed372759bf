#pragma once
// The N64 cartridge header fields that the image side of the main window shows,
// and the two copier byte orders:
//   cartridge order ("CD64/Z64/Wc/SP"): the file starts 0x80 0x37;
//   byte-swapped order ("Doctor v64"): every aligned pair of bytes exchanged,
//   so the file starts 0x37 0x80.
// Whatever the file's order, the texts are built in cartridge order, so an image
// and its byte-swapped twin show the same CRC, name, cartridge ID and country.

#include "io/Reader.h"
#include "rom/NameTables.h"

#include <string>

#include <array>
#include <cstdint>
#include <filesystem>

namespace tarnic {

// The orders an image file can be stored in. The window knows the first two,
// whose values are their ImageFormatNames index; the little-endian order of
// some tools (every 32-bit word reversed, the file starting 0x40 0x12 0x37
// 0x80) is recognised by the command line.
enum class ByteOrder { ByteSwapped = 0, Cartridge = 1, LittleEndian, Unknown };

struct ImageHeader {
    CrcBytes Crc1{}; // as stored in the file, not reordered
    CrcBytes Crc2{};
    std::string CartIdRaw = "  "; // as stored
    std::string CartId;           // in cartridge order
    std::uint8_t CountryCode = 0;
};

enum class ImageReadOutcome {
    Shown,        // a recognised byte order; every text is filled and the match check runs
    CannotOpen,   // "Error Openning File"; the texts stay empty
    Unrecognised, // neither byte-order mark: both buttons disabled, no message
};

struct ImageDisplay {
    std::string RomFormatTxt;
    std::string RomCRCTxt;
    std::string RomHeaderTxT;
    std::string RomCartIDTxT;
    std::string RomCountryTxt;
};

struct ImageInspection {
    ImageReadOutcome outcome = ImageReadOutcome::CannotOpen;
    ByteOrder order = ByteOrder::Unknown;
    ImageHeader header;
    ImageDisplay display; // filled only when outcome is Shown
};

// How much of the image is ever read: the header up to the country byte.
inline constexpr std::int64_t kImageHeaderSize = 64;
using HeaderBytes = std::array<std::uint8_t, kImageHeaderSize>;

// Reads the first 64 bytes of `filePath` (bytes missing from a shorter file
// count as 0) and nothing else, however large the image.
ImageInspection inspectImage(const std::filesystem::path &filePath);

// Four stored bytes (a CRC) in cartridge order.
CrcBytes toCartridgeOrder(CrcBytes bytes, ByteOrder order);

// The same on header bytes already read.
ImageInspection inspectHeader(const HeaderBytes &bytes);

// The first 64 bytes of a plain file, those missing from a shorter file as 0.
// False when the file cannot be opened or read.
bool readHeaderBytes(const std::filesystem::path &filePath, HeaderBytes &bytes);
// The same from an image read from anywhere.
bool readHeaderBytes(Reader &image, HeaderBytes &bytes);

ByteOrder byteOrderOf(const HeaderBytes &bytes);

// True when the name ends in exactly ".BAK" or ".bak": a backup made by patch
// application, which may be inspected and converted but not patched.
bool isBackupName(const std::string &fileName);

} // namespace tarnic
