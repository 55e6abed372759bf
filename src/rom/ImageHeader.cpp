#include "rom/ImageHeader.h"

#include "files/FileReader.h"
#include "rom/ByteOrderConversion.h"

#include <algorithm>
#include <filesystem>

namespace tarnic {

namespace {

// Offsets in the header, counted from 0.
constexpr int kCrc1Offset = 0x10;
constexpr int kCrc2Offset = 0x14;
constexpr int kNameOffset = 0x20;
constexpr int kNameSize = 20;
constexpr int kCartIdOffset = 0x3C;
constexpr int kCountryOffset = 0x3E;
constexpr int kVersionOffset = 0x3F; // holds the country code in byte-swapped order

CrcBytes crcAt(const HeaderBytes &h, int offset) {
    return {h[offset], h[offset + 1], h[offset + 2], h[offset + 3]};
}

} // namespace

CrcBytes toCartridgeOrder(CrcBytes bytes, ByteOrder order) {
    switch (order) {
    case ByteOrder::ByteSwapped:
        return {bytes[1], bytes[0], bytes[3], bytes[2]};
    case ByteOrder::LittleEndian:
        return {bytes[3], bytes[2], bytes[1], bytes[0]};
    case ByteOrder::Cartridge:
    case ByteOrder::Unknown:
        break;
    }
    return bytes;
}

bool readHeaderBytes(const std::filesystem::path &filePath, HeaderBytes &bytes) {
    bytes.fill(0);
    FileReader file;
    bytes.fill(0);
    return file.open(filePath) && readHeaderBytes(file, bytes);
}

bool readHeaderBytes(Reader &image, HeaderBytes &bytes) {
    bytes.fill(0);
    return image.readAt(0, reinterpret_cast<char *>(bytes.data()), kImageHeaderSize) >= 0;
}

ByteOrder byteOrderOf(const HeaderBytes &h) {
    if (h[0] == 0x37 && h[1] == 0x80)
        return ByteOrder::ByteSwapped;
    if (h[0] == 0x80 && h[1] == 0x37)
        return ByteOrder::Cartridge;
    if (h[0] == 0x40 && h[1] == 0x12 && h[2] == 0x37 && h[3] == 0x80)
        return ByteOrder::LittleEndian;
    return ByteOrder::Unknown;
}

ImageInspection inspectImage(const std::filesystem::path &filePath) {
    HeaderBytes h;
    if (!readHeaderBytes(filePath, h))
        return ImageInspection{};
    return inspectHeader(h);
}

ImageInspection inspectHeader(const HeaderBytes &stored) {
    ImageInspection result;
    ImageHeader &header = result.header;
    result.order = byteOrderOf(stored);
    if (result.order == ByteOrder::Unknown) {
        result.outcome = ImageReadOutcome::Unrecognised;
        return result;
    }
    // A little-endian image is read in cartridge order; its fields keep the
    // bytes as stored where the display says so (the CRCs).
    HeaderBytes h = stored;
    if (result.order == ByteOrder::LittleEndian)
        reorderBytes(reinterpret_cast<char *>(h.data()), std::int64_t(h.size()),
                     ByteOrder::LittleEndian, ByteOrder::Cartridge);
    const bool swapped = result.order == ByteOrder::ByteSwapped;

    header.Crc1 = crcAt(stored, kCrc1Offset);
    header.Crc2 = crcAt(stored, kCrc2Offset);

    char name[kNameSize];
    std::copy_n(h.begin() + kNameOffset, kNameSize, name);
    if (swapped) {
        for (int i = 0; i < kNameSize; i += 2)
            std::swap(name[i], name[i + 1]);
    }

    header.CartIdRaw =
        latin1ToUtf8(std::string_view(reinterpret_cast<const char *>(&h[kCartIdOffset]), 2));
    header.CartId =
        latin1ToUtf8(swapped ? std::string{char(h[kCartIdOffset + 1]), char(h[kCartIdOffset])}
                             : std::string{char(h[kCartIdOffset]), char(h[kCartIdOffset + 1])});

    // The version byte comes first: in byte-swapped order it holds the country;
    // in cartridge order it is as a rule 0, and the country sits just before it.
    header.CountryCode = h[kVersionOffset] != 0 ? h[kVersionOffset] : h[kCountryOffset];

    ImageDisplay &d = result.display;
    d.RomFormatTxt = result.order == ByteOrder::LittleEndian ? LittleEndianFormatName
                                                             : ImageFormatNames[int(result.order)];
    d.RomCRCTxt = crcText(toCartridgeOrder(header.Crc1, result.order),
                          toCartridgeOrder(header.Crc2, result.order));
    d.RomHeaderTxT = latin1ToUtf8(std::string_view(name, kNameSize));
    d.RomCartIDTxT = header.CartId;
    d.RomCountryTxt = CountryNames[countryIndex(header.CountryCode)];
    result.outcome = ImageReadOutcome::Shown;
    return result;
}

bool isBackupName(const std::string &fileName) {
    return endsWith(fileName, ".BAK") || endsWith(fileName, ".bak");
}

} // namespace tarnic
