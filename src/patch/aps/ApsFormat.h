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
//       74     4  image size       (a shorter result grows to it, with zeros)
//       78     -  records, back to back until the end of the file
//
// A record is Offset (4 bytes, little-endian, signed) and Length (1 byte);
// Length 1..255 is followed by that many data bytes (a copy record), Length 0
// by RunValue and RunCount (a run record writing RunCount copies of RunValue).

#include "patch/records/RecordStream.h"
#include "rom/NameTables.h"

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/ResultPlace.h"

#include "io/Reader.h"
#include <string>

#include <array>
#include <cstdint>

namespace tarnic {

inline constexpr char kApsMagic[] = "APS10";
inline constexpr int kMagicSize = 5;
inline constexpr int kDescriptionSize = 50;
inline constexpr int kCartIdSize = 2;
inline constexpr std::int64_t kApsHeaderSize = 78;
inline constexpr std::int64_t kSimplePatchHeaderSize = 61;
inline constexpr std::uint8_t kSimplePatchType = 0;
inline constexpr std::uint8_t kN64PatchType = 1;

// Where the header's image-size field and the record stream start, by type.
inline constexpr std::int64_t recordStreamStart(std::uint8_t patchType) {
    return patchType == kSimplePatchType ? kSimplePatchHeaderSize : kApsHeaderSize;
}
inline constexpr std::int64_t imageSizeOffset(std::uint8_t patchType) {
    return recordStreamStart(patchType) - 4;
}
inline constexpr int kPatchNameWidth = 30;

// A record starts at most one byte before the highest offset a record may
// write to (patch/records/RecordStream.h).

struct PatchHeader {
    std::string Magic = std::string(kMagicSize, u' ');
    std::uint8_t PatchType = 0;
    std::uint8_t EncodingMethod = 0;
    std::string Description = std::string(kDescriptionSize, u' ');
    std::uint8_t TargetFormat = 0;
    std::string CartId = std::string(kCartIdSize, u' ');
    std::uint8_t CountryCode = 0;
    CrcBytes Crc1{};
    CrcBytes Crc2{};
};

// Entries are exactly 30 characters wide, the name padded with spaces.
extern const std::array<std::string, 2> PatchTypeNames;
extern const std::array<std::string, 2> EncodingNames;

// Header bytes become characters one to one (ISO 8859-1), so every byte
// survives display and comparison.
std::string bytesToText(const char *data, std::ptrdiff_t size);

// Reads a record stream from the current position of a patch file to its end,
// one record at a time, holding no more than one record in memory.
class ApsRecordReader : public RecordStream {
  public:
    explicit ApsRecordReader(Reader &stream) : stream_(stream) {}
    Step next(PatchRecord &record) override;

  private:
    Reader &stream_;
    std::array<char, 255> data_{};
};

// Reads the patch at `patchPath` from start to end, holding one record at a time.
PatchFileCheck checkApsFile(const std::filesystem::path &patchPath);

// Applies an APS patch with the record engine (patch/records/RecordEngine.h):
// a patch of type 1 in the byte order its header names, the result written in
// the order the image is stored in; the image is never shortened, and grows
// with zeros to the header's image size where that is longer.
ApplyResult applyApsPatch(const PatchJob &job);
// The same on a patch and an image read from anywhere, the result put in
// `place` (an APS patch's pairs are the caller's question).
ApplyResult applyApsPatchTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

// An APS patch (type 1, "N64 Specific Patch", encoding 0) whose header
// describes the original as the main window shows it, so the match pairs are
// all equal for the original; the records are chosen to make the patch as
// small as the format allows.
// Reads both images once, in pieces, side by side; memory use does not grow
// with their size. Applying the patch to the original gives the modified image
// byte for byte. Records address the file as it is stored, in ascending order.
// Where the modified image is longer, the added bytes are records too; zeros
// among them may be left out where a later record follows (the gap reads as
// zeros), and the last byte is always written so the length comes out right.
CreateResult createApsPatch(const CreateJob &job);

} // namespace tarnic
