#pragma once
// The APS patch file: a header followed by a stream of records, each of which
// writes bytes at one offset of an N64 image. Patches of type 1 or more have
// the 78-byte header below; a simple patch (type 0), as other patchers write it
// for byte-swapped images, has a 61-byte header with no N64 block: magic, type,
// encoding, description, then the image size at 57 and its records from 61.
//
//   offset  size  field
//        0     5  Magic "APS10"
//        5     1  PatchType        (0 simple, 1 N64 specific; others shown blank)
//        6     1  EncodingMethod   (only 0 is supported)
//        7    50  Description      (fixed width, never trimmed)
//       57     1  TargetFormat     (ImageFormatNames index; 2 or more is invalid)
//       58     2  CartId
//       60     1  CountryCode
//       61     4  Crc1             (cartridge order, as stored)
//       65     4  Crc2
//       69     5  reserved
//       74     4  image size       (never used: images are not resized to it)
//       78     -  records, back to back until the end of the file
//
// A record is Offset (4 bytes, little-endian, signed) and Length (1 byte);
// Length 1..255 is followed by that many data bytes (a copy record), Length 0
// by RunValue and RunCount (a run record writing RunCount copies of RunValue).

#include "rom/NameTables.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <cstdint>

namespace tarnic {

inline constexpr char kApsMagic[] = "APS10";
inline constexpr int kMagicSize = 5;
inline constexpr int kDescriptionSize = 50;
inline constexpr int kCartIdSize = 2;
inline constexpr qint64 kApsHeaderSize = 78;
inline constexpr qint64 kSimplePatchHeaderSize = 61;
inline constexpr std::uint8_t kSimplePatchType = 0;
inline constexpr std::uint8_t kN64PatchType = 1;

// Where the header's image-size field and the record stream start, by type.
inline constexpr qint64 recordStreamStart(std::uint8_t patchType) {
    return patchType == kSimplePatchType ? kSimplePatchHeaderSize : kApsHeaderSize;
}
inline constexpr qint64 imageSizeOffset(std::uint8_t patchType) {
    return recordStreamStart(patchType) - 4;
}
inline constexpr int kPatchNameWidth = 30;

// The highest image offset a record may write to; a record starts at most one
// byte before it.
inline constexpr qint64 kLastWritableOffset = 0x7FFFFFFF;

struct PatchHeader {
    QString Magic = QString(kMagicSize, u' ');
    std::uint8_t PatchType = 0;
    std::uint8_t EncodingMethod = 0;
    QString Description = QString(kDescriptionSize, u' ');
    std::uint8_t TargetFormat = 0;
    QString CartId = QString(kCartIdSize, u' ');
    std::uint8_t CountryCode = 0;
    CrcBytes Crc1{};
    CrcBytes Crc2{};
};

// One record of a patch that writes bytes at offsets: an APS record, or one of
// another such format (IPS), whose offsets and lengths may be wider.
struct PatchRecord {
    qint64 Offset = 0;
    std::uint16_t Length = 0; // 0: run record
    std::uint8_t RunValue = 0;
    std::uint16_t RunCount = 0;
    const char *Data = nullptr; // copy record: its Length bytes, valid until the next record

    // How many image bytes the record writes.
    int writtenSize() const { return Length != 0 ? Length : RunCount; }
};

// Entries are exactly 30 characters wide, the name padded with spaces.
extern const std::array<QString, 2> PatchTypeNames;
extern const std::array<QString, 2> EncodingNames;

// Header bytes become characters one to one (ISO 8859-1), so every byte
// survives display and comparison.
QString bytesToText(const char *data, qsizetype size);

// Reads a record stream from the current position of a patch file to its end,
// one record at a time, holding no more than one record in memory.
class PatchRecordReader {
  public:
    enum class Step {
        Record,     // `record` holds the next record
        End,        // the stream ended between two records: it is complete
        Truncated,  // the stream ended inside a record
        ReadFailed, // the file could not be read
    };

    explicit PatchRecordReader(QIODevice &stream) : stream_(stream) {}
    Step next(PatchRecord &record);

  private:
    QIODevice &stream_;
    std::array<char, 255> data_{};
};

} // namespace tarnic
