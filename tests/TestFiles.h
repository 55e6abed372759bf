#pragma once
// Patches and images built byte by byte for the tests, and small file helpers,
// in plain C++ (the engine's tests link no Qt). Bytes are std::string.

#include "rom/ImageHeader.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testfiles {

// The bytes hexadecimal digits spell ("0AB1007F").
std::string fromHex(std::string_view digits);
// Pieces of bytes, as the tests take them.
inline std::string left(std::string_view bytes, std::size_t count) {
    return std::string(bytes.substr(0, count));
}
inline std::string mid(std::string_view bytes, std::size_t at,
                       std::size_t count = std::string_view::npos) {
    return std::string(bytes.substr(std::min(at, bytes.size()), count));
}
inline std::string right(std::string_view bytes, std::size_t count) {
    return std::string(bytes.substr(bytes.size() - std::min(count, bytes.size())));
}
inline std::string chopped(std::string_view bytes, std::size_t count) {
    return std::string(bytes.substr(0, bytes.size() - std::min(count, bytes.size())));
}
inline std::string repeated(std::string_view text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}
// `text` with every `from` in it replaced by `to`.
inline std::string replaced(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}
inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}
// `text` padded with spaces to `width` bytes.
std::string padded(std::string_view text, std::size_t width);

// Four bytes, least significant first.
std::string littleEndian(std::uint32_t value);
// zlib's CRC-32, an outside check of the program's own.
std::uint32_t zlibCrc(std::string_view bytes);

// The fields of an APS header; the defaults describe a patch made for
// cartridgeImage() below.
struct ApsFields {
    std::string magic = "APS10";
    std::uint8_t type = 1;
    std::uint8_t encoding = 0;
    std::string description = padded("Fan translation 1.0", 50);
    std::uint8_t target = 1;
    std::string cartId = "AB";
    std::uint8_t country = 'E';
    std::string crc1 = fromHex("0AB1007F");
    std::string crc2 = fromHex("FF100233");
    std::uint32_t imageSize = 0; // the modified image's size; 0 grows nothing
};

std::string apsHeader(const ApsFields &fields = {});
// The 61-byte header of a simple patch (type 0) as other patchers write it:
// magic, type 0, encoding, description, image size; no N64 block.
std::string simpleApsHeader(std::string_view description, std::uint32_t imageSize);
std::string copyRecord(std::int32_t offset, std::string_view data);
std::string runRecord(std::int32_t offset, std::uint8_t value, std::uint8_t count);

// A BPS patch turning `source` into `target` by `actions`, with its three
// CRC-32s (zlib's, as an outside check of the program's own).
std::string bpsPatch(std::string_view source, std::string_view target, std::string_view actions,
                     std::string_view metadata = {});
// A BPS number, an action (0 SourceRead, 1 TargetRead, 2 SourceCopy, 3
// TargetCopy) of `length` bytes, and a cursor move for the two copies.
std::string bpsNumber(std::uint64_t value);
std::string bpsAction(int command, std::uint64_t length);
std::string bpsMove(std::int64_t delta);
// A UPS patch from `input` to `output` with the given hunks (each a skip as a
// bpsNumber, then XOR bytes ending in a zero byte), and its three CRC-32s.
std::string upsPatch(std::string_view input, std::string_view output, std::string_view hunks);
// The XOR bytes of a hunk that turn `from` into `to` (bytes past `from` read
// as zeros), with the zero byte that ends the hunk.
std::string upsXor(std::string_view from, std::string_view to);
// The same patch with its patch CRC-32 made right again after a change.
std::string withBpsPatchCrc(std::string patch);

// A VCDIFF number (big-endian, 7 bits a byte, the top bit on all but the last).
std::string vcdiffNumber(std::uint64_t value);
// "D6 C3 C4 00", the header indicator and what it announces (`rest`).
std::string vcdiffHeader(std::uint8_t indicator = 0, std::string_view rest = {});
// One window: `indicator` 1 reads [position, position + length) of the
// source; 4 carries the Adler-32 of `result` (zlib's), or `adler` where given.
struct VcdiffWindowFields {
    std::uint8_t indicator = 5;
    std::uint64_t segmentLength = 0;
    std::uint64_t segmentPosition = 0;
    std::string result; // what the window makes: its length and Adler-32
    std::string data, instructions, addresses;
    std::uint8_t compressed = 0;
    std::int64_t lengthError = 0; // added to the length of the rest
};
std::string vcdiffWindow(const VcdiffWindowFields &fields);

// An image in cartridge order (starting 0x80 0x37) whose header matches
// ApsFields' defaults: CRCs 0AB1007F and FF100233, name "TARNIC TEST IMAGE",
// cartridge ID "AB", country 'E' at 0x3E, version 0; the rest a byte pattern.
std::string cartridgeImage(std::size_t size = 4096);

// `size` bytes of a fixed pseudo-random sequence.
std::string randomBytes(std::size_t size, unsigned seed);

// Every aligned pair exchanged, as a "Doctor v64" copier stores it.
std::string byteSwapped(std::string bytes);
// Every whole 32-bit word reversed, as little-endian (.n64) dumps are; a tail
// shorter than a word stays as it is.
std::string wordsReversed(std::string bytes);
// The cartridge-order `bytes` as a dump in `order` holds them.
std::string inOrder(const std::string &bytes, tarnic::ByteOrder order);

// By the path's own bytes, which need not be UTF-8.
void writeFile(const std::filesystem::path &path, std::string_view bytes);
// The file's bytes, or "<missing>".
std::string readFile(const std::filesystem::path &path);
void makeReadOnly(const std::filesystem::path &path);

// A new, empty folder, removed with what it holds at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path filePath(std::string_view name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// The names of the files in `folder`, hidden ones too, in order.
std::vector<std::string> fileNames(const std::filesystem::path &folder);
// Bytes as lowercase hexadecimal digits.
std::string toHex(std::string_view bytes);

// Writes `bytes` to a file named `name` in `dir` and returns its path.
std::filesystem::path fileWith(const TempDir &dir, std::string_view name, std::string_view bytes);

} // namespace testfiles
