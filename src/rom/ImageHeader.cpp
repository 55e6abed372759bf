#include "rom/ImageHeader.h"

#include "files/SafeWrite.h"

#include <QFile>

#include <algorithm>

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

CrcBytes crcAt(const std::array<std::uint8_t, kImageHeaderSize> &h, int offset) {
    return {h[offset], h[offset + 1], h[offset + 2], h[offset + 3]};
}

CrcBytes toCartridgeOrder(CrcBytes bytes, ByteOrder order) {
    if (order == ByteOrder::ByteSwapped)
        return {bytes[1], bytes[0], bytes[3], bytes[2]};
    return bytes;
}

} // namespace

ImageInspection inspectImage(const QString &filePath) {
    ImageInspection result;
    QFile file;
    if (!openRegularFile(file, filePath))
        return result;

    std::array<std::uint8_t, kImageHeaderSize> h{};
    if (readFully(file, reinterpret_cast<char *>(h.data()), kImageHeaderSize) < 0)
        return result;

    ImageHeader &header = result.header;
    header.Signature = {h[0], h[1]};
    if (h[0] == 0x37 && h[1] == 0x80) {
        result.order = ByteOrder::ByteSwapped;
    } else if (h[0] == 0x80 && h[1] == 0x37) {
        result.order = ByteOrder::Cartridge;
    } else {
        result.outcome = ImageReadOutcome::Unrecognised;
        return result;
    }
    const bool swapped = result.order == ByteOrder::ByteSwapped;

    header.Crc1 = crcAt(h, kCrc1Offset);
    header.Crc2 = crcAt(h, kCrc2Offset);

    char name[kNameSize];
    std::copy_n(h.begin() + kNameOffset, kNameSize, name);
    if (swapped) {
        for (int i = 0; i < kNameSize; i += 2)
            std::swap(name[i], name[i + 1]);
    }

    header.CartIdRaw = QString::fromLatin1(reinterpret_cast<const char *>(&h[kCartIdOffset]), 2);
    header.CartId = header.CartIdRaw;
    if (swapped)
        std::swap(header.CartId[0], header.CartId[1]);

    // The version byte comes first: in byte-swapped order it holds the country;
    // in cartridge order it is as a rule 0, and the country sits just before it.
    header.CountryCode = h[kVersionOffset] != 0 ? h[kVersionOffset] : h[kCountryOffset];

    ImageDisplay &d = result.display;
    d.RomFormatTxt = ImageFormatNames[int(result.order)];
    d.RomCRCTxt = crcText(toCartridgeOrder(header.Crc1, result.order),
                          toCartridgeOrder(header.Crc2, result.order));
    d.RomHeaderTxT = QString::fromLatin1(name, kNameSize);
    d.RomCartIDTxT = header.CartId;
    d.RomCountryTxt = CountryNames[countryIndex(header.CountryCode)];
    result.outcome = ImageReadOutcome::Shown;
    return result;
}

bool isBackupName(const QString &fileName) {
    const QString tail = fileName.right(4);
    return tail == QLatin1String(".BAK") || tail == QLatin1String(".bak");
}

} // namespace tarnic
