#pragma once
// The UPS patch ("UPS1"), as its author defines it:
//
//   "UPS1", the input size, the output size (B-varints, patch/varint/Varint.h), then
//   hunks until 12 bytes before the end, then the CRC-32s of the input, the
//   output and the patch (all its bytes but these last four), little-endian.
//
// A hunk is a varint skip (bytes copied as they are) and then bytes XORed onto
// the input up to and including a zero byte. One cursor runs over input and
// output together; input past its end reads as zeros, output past its size is
// dropped, and after the last hunk the rest of the input is copied up to the
// output size, zeros beyond. The hunks must end exactly at the CRC-32s.

#include "patch/PatchApplication.h"
#include "patch/ResultPlace.h"
#include "patch/records/RecordStream.h"

#include "io/Reader.h"
#include <string>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace tarnic {

inline constexpr char kUpsMagic[] = "UPS1";

struct UpsHeader {
    std::uint64_t inputSize = 0;
    std::uint64_t outputSize = 0;
    std::uint32_t inputCrc = 0;
    std::uint32_t outputCrc = 0;
    std::uint32_t patchCrc = 0; // as the patch stores it
    std::int64_t hunksStart = 0;
    std::int64_t hunksEnd = 0;
};

// The header and CRC-32s, with the patch's own CRC-32 checked (Damaged when
// it is wrong).
struct UpsInspection {
    PatchRead outcome = PatchRead::Unreadable;
    PatchFault fault = PatchFault::None; // what is wrong where Damaged
    UpsHeader header;
};
UpsInspection inspectUps(const std::filesystem::path &patchPath,
                         PatchCrcCheck check = PatchCrcCheck::Whole);
UpsInspection inspectUps(Reader &patch, PatchCrcCheck check = PatchCrcCheck::Whole);

// The hunks read as records that XOR their bytes onto the image's, in the
// order of their offsets: a record a hunk (its closing zero included), or
// several for a long one; what lies past the output size is left out. The
// stream is read from its current position to the CRC-32s.
class UpsRecordReader : public RecordStream {
  public:
    UpsRecordReader(Reader &stream, const UpsHeader &header)
        : stream_(stream), end_(header.hunksEnd), outputSize_(std::int64_t(header.outputSize)) {}
    Step next(PatchRecord &record) override;
    // The output size: the result is as long, whatever the hunks reach.
    std::optional<std::int64_t> resultLength() const override { return outputSize_; }

  private:
    static constexpr int kMostBytes = 4096; // of one record

    Reader &stream_;
    std::int64_t end_;
    std::int64_t outputSize_;
    std::int64_t cursor_ = 0; // where the next byte of the hunks goes
    bool insideHunk_ = false;
    std::array<char, kMostBytes> data_{};
};

// Reads the header from the start of `patch`, leaving it at the hunks; none
// when the patch is not a UPS patch or ends inside its header, or a number
// of it does not fit in 64 bits (then `tooLong`). The CRC-32s are not read.
std::optional<UpsHeader> readUpsHeader(Reader &patch, bool *tooLong = nullptr);

// Applies a UPS patch forward with the engine of the formats that write at
// offsets (patch/PatchApplication.h), in whichever byte order the image is the
// patch's input (patch/bps/Bps.h): the result in the image's own order, its CRC-32
// checked before it replaces anything. An image that is the patch's output
// already is refused as patched, not turned back.
ApplyResult applyUps(const PatchJob &job);
// The same on a patch and an image read from anywhere, the result put in
// `place`.
ApplyResult applyUpsTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

// What the patch says of itself: its input and output; its own CRC-32
// checked unless `depth` is Header.
PatchSummary summarizeUps(const std::filesystem::path &patchPath, ReadDepth depth);

} // namespace tarnic
