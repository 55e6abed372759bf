// Damaged patches of every format, each with the fault it must be refused
// for, in its format's terms; none of them writes anything.
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "patch/ResultPlace.h"
#include "texts/Messages.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

std::string bigEndian24(std::uint32_t value) {
    return {char(value >> 16), char(value >> 8), char(value)};
}

// A BPS or UPS patch (`magic`) with the sizes given, whatever its body
// makes; its CRC-32s of `source` and of an empty target, and its own, right.
std::string withSizes(const char *magic, std::string_view source, std::string_view sizes,
                      std::string_view body) {
    return withBpsPatchCrc(magic + std::string(sizes) + std::string(body) +
                           littleEndian(zlibCrc(source)) + littleEndian(zlibCrc("")) + "CRC!");
}

// Applies `patch` from memory to `image`, forced past any source check, and
// checks that nothing came of it; returns what the refusal said.
ApplyResult refusalOf(const std::string &patch, const std::string &image) {
    MemoryReader patchBytes(patch);
    MemoryReader imageBytes(image);
    MemoryResult result;
    const ApplyResult applied = applyPatch(patchBytes, imageBytes, result, true);
    EXPECT_TRUE(result.bytes().empty());
    return applied;
}

struct Damaged {
    const char *what;
    std::string patch;
    PatchFault fault;
};

} // namespace

TEST(DamagedPatches, EachIsRefusedForItsOwnFaultAndWritesNothing) {
    const std::string image = cartridgeImage(64);
    std::string target = image;
    target.replace(8, 4, "WXYZ");
    const std::string tooLong = std::string(10, '\x7f') + '\x80';
    // xdelta: a window that copies 4 bytes of an 8-byte source segment, adds
    // "XYZ" and copies them again, and windows that break its rules.
    const VcdiffWindowFields copies{
        5, 8, 0, left(image, 4) + "XYZ" + left(image, 4), "XYZ", "\x14\xA9", std::string(2, '\0')};
    const std::string xdelta = vcdiffWindow(copies);
    VcdiffWindowFields longer = copies, huge = copies, ahead = copies, leftOver = copies,
                       garbled = copies;
    longer.lengthError = 1;
    huge.result = std::string((64 << 20) + 1, 'x');
    ahead.addresses = "\x08\x00";
    leftOver.data = "XYZW";
    garbled.compressed = 1;
    garbled.data = "\x03junk";
    const Damaged cases[] = {
        {"IPS without EOF", "PATCH" + bigEndian24(16) + std::string("\0\2AB", 4),
         PatchFault::NoEndMark},
        {"IPS cut inside a record", "PATCH" + bigEndian24(16) + std::string("\0\4AB", 4),
         PatchFault::EndsInsideRecord},
        {"IPS with a byte after EOF", std::string("PATCH") + "EOF" + "x",
         PatchFault::DataAfterEndMark},
        {"IPS with a run of 0", "PATCH" + bigEndian24(16) + std::string("\0\0\0\0x", 5) + "EOF",
         PatchFault::EmptyRun},
        // IPS32 gives no length for the result: three bytes after EEOF are damage.
        {"IPS32 with three bytes after EEOF", std::string("IPS32") + "EEOF" + "abc",
         PatchFault::DataAfterEndMark},
        {"IPS32 past 2^31", std::string("IPS32\x80\0\0\0\0\1x", 12) + "EEOF",
         PatchFault::WritesOutOfRange},
        {"APS cut inside a record", apsHeader() + copyRecord(4, "ABCD").substr(0, 7),
         PatchFault::EndsInsideRecord},
        {"APS at offset -1", apsHeader() + copyRecord(-1, "A"), PatchFault::WritesOutOfRange},
        {"BPS whose actions end short", bpsPatch(image, target, bpsAction(0, 8)),
         PatchFault::ShortOutput},
        {"BPS writing past its target", bpsPatch(image, target, bpsAction(0, 65)),
         PatchFault::WritesPastTarget},
        {"BPS reading past its source", bpsPatch(image, image + "tail", bpsAction(0, 68)),
         PatchFault::ReadsPastSource},
        {"BPS TargetCopy at the write position",
         bpsPatch(image, target, bpsAction(1, 1) + "A" + bpsAction(3, 63) + bpsMove(1)),
         PatchFault::CopyFromUnwritten},
        {"BPS TargetRead into the CRC-32s", bpsPatch(image, target, bpsAction(1, 64) + "AB"),
         PatchFault::ActionCutShort},
        {"BPS with a number past 64 bits", withSizes("BPS1", image, bpsNumber(64) + tooLong, ""),
         PatchFault::NumberTooLong},
        {"BPS target past 2^31",
         withSizes("BPS1", image, bpsNumber(64) + bpsNumber(0x80000001) + bpsNumber(0),
                   bpsAction(0, 64)),
         PatchFault::TargetTooLarge},
        {"UPS hunk into the CRC-32s", upsPatch(image, target, bpsNumber(8) + "WXYZ"),
         PatchFault::HunkCutShort},
        {"UPS output past 2^31",
         withSizes("UPS1", image, bpsNumber(64) + bpsNumber(0x80000001), ""),
         PatchFault::TargetTooLarge},
        {"xdelta with no window", vcdiffHeader(), PatchFault::NoWindows},
        {"xdelta with 2^18 + 1 windows", vcdiffHeader() + repeated(vcdiffWindow({}), (1 << 18) + 1),
         PatchFault::TooManyWindows},
        {"xdelta with a header bit VCDIFF does not define", vcdiffHeader(8) + xdelta,
         PatchFault::HeaderBitsUndefined},
        {"xdelta window that reads both segments", vcdiffHeader() + "\3" + xdelta.substr(6),
         PatchFault::WindowBroken},
        {"xdelta window whose lengths do not add up", vcdiffHeader() + vcdiffWindow(longer),
         PatchFault::WindowBroken},
        {"xdelta cut inside a window", chopped(vcdiffHeader() + xdelta, 1),
         PatchFault::EndsInsideWindow},
        {"xdelta window past 64 MiB", vcdiffHeader() + vcdiffWindow(huge),
         PatchFault::WindowTooLarge},
        {"xdelta copy from past what precedes it", vcdiffHeader() + vcdiffWindow(ahead),
         PatchFault::InstructionBroken},
        {"xdelta data left over", vcdiffHeader() + vcdiffWindow(leftOver),
         PatchFault::InstructionBroken},
        {"xdelta LZMA section that does not decode", vcdiffHeader(1, "\2") + vcdiffWindow(garbled),
         PatchFault::SecondaryBroken},
        {"xdelta with a number past 64 bits",
         vcdiffHeader() + "\1" + std::string(10, '\xFF') + '\1' + xdelta.substr(6),
         PatchFault::NumberTooLong},
    };
    for (const Damaged &c : cases) {
        SCOPED_TRACE(c.what);
        const ApplyResult applied = refusalOf(c.patch, image);
        EXPECT_EQ(applied.fault, c.fault);
        EXPECT_TRUE(applied.outcome == ApplyOutcome::InvalidPatch ||
                    applied.outcome == ApplyOutcome::PatchBreaksItsRules)
            << int(applied.outcome);
        EXPECT_TRUE(contains(text::reasonFor(applied).line(), text::faultText(c.fault)))
            << text::reasonFor(applied).line();
    }
}

// Refused for what the file is before any record is read.
TEST(DamagedPatches, WhatIsNotReadOrAWrongChecksumIsNamedAsWhatItIs) {
    const std::string image = cartridgeImage(64);
    const VcdiffWindowFields copies{
        5, 8, 0, left(image, 4) + "XYZ" + left(image, 4), "XYZ", "\x14\xA9", std::string(2, '\0')};
    const std::string xdelta = vcdiffWindow(copies);
    VcdiffWindowFields wrong = copies;
    wrong.data = "XYW";
    const std::string wrongSum = vcdiffWindow(wrong);
    const struct {
        std::string patch;
        ApplyOutcome outcome;
        const char *says;
    } cases[] = {
        {"%XDELTA%" + std::string(30, '\0'), ApplyOutcome::NotAnApsFile, "an xdelta 1 patch"},
        {"%XDZ003%" + std::string(30, '\0'), ApplyOutcome::NotAnApsFile, "an xdelta 1 patch"},
        {"PPF30\2" + std::string(40, ' '), ApplyOutcome::PatchTruncated, "ends inside its header"},
        {vcdiffHeader(2, "\3\4\3") + xdelta, ApplyOutcome::UnsupportedEncoding,
         "a code table of its own"},
        {vcdiffHeader(1, "\x09") + xdelta, ApplyOutcome::UnsupportedEncoding,
         "a secondary compressor this build does not decode"},
        {vcdiffHeader() + "\2\1\0" + xdelta.substr(3), ApplyOutcome::UnsupportedEncoding,
         "(VCD_TARGET)"},
        {"\xD6\xC3\xC4S" + xdelta, ApplyOutcome::UnsupportedEncoding,
         "a version this program does not read"},
        // Forced onto the image all the same: the window's Adler-32 decides.
        {vcdiffHeader() + wrongSum, ApplyOutcome::ResultMismatch,
         "does not have the Adler-32 the patch carries"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.says);
        const ApplyResult applied = refusalOf(c.patch, image);
        EXPECT_EQ(applied.outcome, c.outcome);
        EXPECT_TRUE(contains(text::reasonFor(applied).line(), c.says))
            << text::reasonFor(applied).line();
    }
}
