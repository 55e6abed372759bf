#pragma once
// The UPS patch ("UPS1"), as its author defines it:
//
//   "UPS1", the input size, the output size (B-varints, patch/Varint.h), then
//   hunks until 12 bytes before the end, then the CRC-32s of the input, the
//   output and the patch (all its bytes but these last four), little-endian.
//
// A hunk is a varint skip (bytes copied as they are) and then bytes XORed onto
// the input up to and including a zero byte. One cursor runs over input and
// output together; input past its end reads as zeros, output past its size is
// dropped, and after the last hunk the rest of the input is copied up to the
// output size, zeros beyond. The hunks must end exactly at the CRC-32s.

#include "patch/PatchApplication.h"

#include <QString>

#include <cstdint>

namespace tarnic {

inline constexpr char kUpsMagic[] = "UPS1";

struct UpsHeader {
    std::uint64_t inputSize = 0;
    std::uint64_t outputSize = 0;
    std::uint32_t inputCrc = 0;
    std::uint32_t outputCrc = 0;
    qint64 hunksStart = 0;
    qint64 hunksEnd = 0;
};

// The header and CRC-32s, with the patch's own CRC-32 checked; the outcome as
// applying it would report it (Applied when the patch reads whole).
struct UpsInspection {
    ApplyOutcome outcome = ApplyOutcome::SourceUnreadable;
    UpsHeader header;
};
UpsInspection inspectUps(const QString &patchPath);

// Applies a UPS patch forward, as BPS is applied (patch/Bps.h): in whichever
// byte order the image is the patch's input, the result in the image's own
// order, its CRC-32 checked before it replaces anything. An image that is the
// patch's output already is refused as patched, not turned back.
ApplyResult applyUps(const PatchJob &job);

} // namespace tarnic
