// Patches another patcher wrote, pinned byte for byte: RomPatcher.js 3.0's
// createPatch, run once on the pair below (a 128-byte cartridge-order image,
// and the same with "ABCD" at 0x50, eight 0x55 bytes at 0x60 and its last
// byte changed). Each must be recognised as its format, read whole, and give
// the modified image exactly, from files and from memory.
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "patch/ResultPlace.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

std::string modifiedImage() {
    std::string image = cartridgeImage(128);
    image.replace(0x50, 4, "ABCD");
    image.replace(0x60, 8, std::string(8, 0x55));
    image[127] = char(0xEE);
    return image;
}

const char *const kBpsHex =
    "4250533100800080803c818d41424344ac81559b4080d881eece7f055ae9c3781edfe5d50d";

struct Written {
    const char *format;
    const char *hex;
};

TEST(OtherToolsPatches, EachFormatAppliesExactlyAsItsWriterMeantIt) {
    const Written patches[] = {
        {"APS",
         "415053313001006e6f206465736372697074696f6e0000000000000000000000000000000000000000000000"
         "00000000000000000000000000014142450ab1007fff100233000000000080000000500000000441424344"
         "600000000055087f00000001ee"},
        {"BPS", kBpsHex},
        {"IPS", "5041544348000050000441424344000060000000085500007f0001ee454f46"},
        {"PPF",
         "5050463330025061746368206465736372697074696f6e000000000000000000000000000000000000000000"
         "0000000000000000000000000000000050000000000000000441424344600000000000000008555555555555"
         "55557f0000000000000001ee"},
        {"UPS", "5550533100800080d07278020c008bf6ffe4edea93988100969200ce7f055ae9c3781ebdec53db"},
    };
    for (const Written &written : patches) {
        SCOPED_TRACE(written.format);
        TempDir dir;
        const std::string patch = fromHex(written.hex);
        PatchJob job;
        job.patchPath = fileWith(dir, "made.patch", patch);
        job.imagePath = fileWith(dir, "game.z64", cartridgeImage(128));
        EXPECT_EQ(infoOf(recognisePatch(patch)).name, std::string(written.format));
        EXPECT_TRUE(inspectPatchFile(job.patchPath, ReadDepth::Whole).readable());
        EXPECT_EQ(applyPatchFile(job).outcome, ApplyOutcome::Applied);
        EXPECT_EQ(readFile(job.imagePath), modifiedImage());

        const std::string image = cartridgeImage(128);
        MemoryReader patchBytes(patch);
        MemoryReader imageBytes(image);
        MemoryResult result;
        EXPECT_EQ(applyPatch(patchBytes, imageBytes, result).outcome, ApplyOutcome::Applied);
        EXPECT_EQ(result.bytes(), modifiedImage());
    }
}

// RomPatcher.js's APS writer leaves a longer image's trailing zeros out and
// gives its length in the header (192 bytes: the image above, "ABCD" at 0x50,
// 64 bytes added with "XY" at 0x90): the result grows to it.
TEST(OtherToolsPatches, AnApsPatchOfALongerImageGrowsTheResultToItsSizeField) {
    const std::string patch = fromHex(
        "415053313001006e6f206465736372697074696f6e0000000000000000000000000000000000000000000000"
        "00000000000000000000000000014142450ab1007fff1002330000000000c0000000500000000441424344"
        "90000000025859");
    std::string modified = cartridgeImage(128) + std::string(64, '\0');
    modified.replace(0x50, 4, "ABCD").replace(0x90, 2, "XY");
    const std::string image = cartridgeImage(128);
    MemoryReader patchBytes(patch);
    MemoryReader imageBytes(image);
    MemoryResult result;
    ASSERT_EQ(applyPatch(patchBytes, imageBytes, result).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(result.bytes(), modified);
}

// From memory the checks, the question and the byte orders are those of files.
TEST(OtherToolsPatches, FromMemoryAPatchIsCheckedAskedAboutAndWrittenInTheImagesOrder) {
    const std::string patch = fromHex(kBpsHex);
    MemoryReader patchBytes(patch);

    const std::string twin = byteSwapped(cartridgeImage(128));
    MemoryReader twinBytes(twin);
    MemoryResult inItsOrder;
    ASSERT_EQ(applyPatch(patchBytes, twinBytes, inItsOrder).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(inItsOrder.bytes(), byteSwapped(modifiedImage()));

    const std::string other = cartridgeImage(256);
    MemoryReader otherBytes(other);
    MemoryResult refused;
    EXPECT_EQ(applyPatch(patchBytes, otherBytes, refused).outcome, ApplyOutcome::WrongImage);
    EXPECT_TRUE(refused.bytes().empty());

    const std::string image = cartridgeImage(128);
    MemoryReader imageBytes(image);
    int asked = 0;
    MemoryResult declined([&asked] { return ++asked, false; });
    EXPECT_EQ(applyPatch(patchBytes, imageBytes, declined).outcome, ApplyOutcome::Declined);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(declined.bytes().empty());

    const std::string damaged = patch.substr(0, patch.size() - 1) + char(patch.back() ^ 1);
    MemoryReader damagedBytes(damaged);
    MemoryResult notApplied;
    EXPECT_EQ(applyPatch(damagedBytes, imageBytes, notApplied).outcome,
              ApplyOutcome::PatchCorrupted);
}

} // namespace
