#include "patch/ups/Ups.h"

#include "ChildProcess.h"
#include "TestFiles.h"
#include "io/Endian.h"
#include "patch/PatchFormat.h"
#include "strings/Strings.h"

#include <gtest/gtest.h>

#include <variant>

using namespace tarnic;
using namespace testfiles;

namespace {

class UpsTest : public ::testing::Test {
  protected:
    ApplyResult apply(const std::string &patch, const std::string &image) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyPatchFile(job);
    }

    TempDir dir;
    PatchJob job{dir.filePath("hack.ups"), dir.filePath("game.rom"), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(UpsTest, HunksSizesAndByteOrdersAsTheAuthorDefinesThem) {
    const std::string in = cartridgeImage(4096);
    std::string out = in;
    out.replace(100, 3, "UPS");
    // The output longer and shorter than the input, a hunk at the very end.
    const std::string longer = out + "TAIL";
    const std::string shorter = left(out, 3000);
    const struct {
        const char *what;
        std::string output;
        std::string hunks;
    } cases[] = {
        {"one hunk", out, bpsNumber(100) + upsXor(mid(in, 100, 3), "UPS")},
        {"longer", longer,
         bpsNumber(100) + upsXor(mid(in, 100, 3), "UPS") + bpsNumber(4096 - 104) +
             upsXor(std::string(), "TAIL")},
        {"shorter", shorter, bpsNumber(100) + upsXor(mid(in, 100, 3), "UPS")},
    };
    for (const auto &c : cases) {
        for (const bool swapped : {false, true}) {
            const std::string image = swapped ? byteSwapped(in) : in;
            const ApplyResult r = apply(upsPatch(in, c.output, c.hunks), image);
            ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << c.what << swapped;
            EXPECT_EQ(readFile(job.imagePath), swapped ? byteSwapped(c.output) : c.output)
                << c.what << swapped;
        }
    }
}

TEST_F(UpsTest, AWrongImageADamagedPatchOrHunksPastTheirEndAreRefused) {
    const std::string in("UPS INPUT!");
    const std::string out("UPS OUTPUT");
    const std::string hunks = bpsNumber(4) + upsXor(mid(in, 4), mid(out, 4));
    std::string damaged = upsPatch(in, out, hunks);
    damaged[5] = char(damaged[5] ^ 1);
    const std::pair<std::string, ApplyOutcome> refused[] = {
        {damaged, ApplyOutcome::PatchCorrupted},
        {upsPatch("ANOTHER ONE", out, hunks), ApplyOutcome::WrongImage},
        {upsPatch(out, in, hunks), ApplyOutcome::AlreadyPatched},
        {upsPatch(in, out, chopped(hunks, 1)), ApplyOutcome::PatchBreaksItsRules}, // no terminator
        {upsPatch(in, out, bpsNumber(4)), ApplyOutcome::PatchBreaksItsRules}, // a skip, no bytes
        {upsPatch(in, out, bpsNumber(4) + upsXor(mid(in, 4, 2), "XX")),
         ApplyOutcome::ResultMismatch},
    };
    for (const auto &[patch, outcome] : refused) {
        EXPECT_EQ(apply(patch, in).outcome, outcome) << toHex(patch);
        EXPECT_EQ(readFile(job.imagePath), in);
        EXPECT_EQ(fileNames(dir.path()).size(), 2);
    }
    EXPECT_EQ(apply(upsPatch(in, out, hunks), in).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), out);
}

// An output that claims far more than the input and the hunks fill is zeros
// past them: summed, not written, so that a wrong claim is refused for its
// CRC-32 at once (here by a process that may write no more than 64 MiB to a
// file), not after gigabytes of zeros went to the disk.
TEST_F(UpsTest, AnOutputFarPastItsHunksIsRefusedWithoutWritingItsZeros) {
    const std::string in("UPS INPUT!");
    const std::string claim = "UPS1" + bpsNumber(in.size()) + bpsNumber(std::uint64_t(1) << 31) +
                              bpsNumber(2) + upsXor("P", "Q") + littleEndian(zlibCrc(in)) +
                              littleEndian(0x12345678) + "CRC!";
    writeFile(job.patchPath, withBpsPatchCrc(claim));
    writeFile(job.imagePath, in);
    job.skipSourceCheck = true;
    const childprocess::Ended ended = childprocess::run(
        [&] { return int(applyPatchFile(job).outcome); }, {64ll << 20, std::nullopt});
    EXPECT_EQ(ended.exitCode, int(ApplyOutcome::ResultMismatch));
    EXPECT_EQ(readFile(job.imagePath), in);
    EXPECT_EQ(fileNames(dir.path()).size(), 2);
}

TEST_F(UpsTest, HunksLongerThanARecordAcrossPiecesOfALargeImage) {
    // A 10,000-byte hunk across the first 1 MiB boundary, and an output that
    // grows by 1.5 MiB of new bytes (one hunk XORed onto zeros).
    // Every byte of a hunk differs, so that none of them ends it early.
    const std::string in = cartridgeImage(3 << 20);
    const std::ptrdiff_t at = (1 << 20) - 5000;
    std::string changed = mid(in, at, 10000);
    for (char &c : changed)
        c = char(~c);
    const std::string grown = std::string(3 << 19, 'G');
    const std::string out = std::string(in).replace(at, changed.size(), changed) + grown;
    const std::string hunks = bpsNumber(std::uint64_t(at)) + upsXor(mid(in, at, 10000), changed) +
                              bpsNumber((2 << 20) - 5001) + upsXor(std::string(), grown);
    for (const bool swapped : {false, true}) {
        const ApplyResult r = apply(upsPatch(in, out, hunks), swapped ? byteSwapped(in) : in);
        ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << swapped;
        EXPECT_TRUE(readFile(job.imagePath) == (swapped ? byteSwapped(out) : out)) << swapped;
    }
}

// `info` gives a UPS patch's own CRC-32 beside the other two, as for BPS.
TEST_F(UpsTest, ItsSummaryNamesAllThreeCrcs) {
    const std::string in = cartridgeImage(4096);
    const std::string patch = upsPatch(in, in, "");
    writeFile(job.patchPath, patch);
    const PatchSummary summary = inspectPatchFile(job.patchPath, ReadDepth::Whole);
    std::vector<std::pair<std::string, std::string>> crcs;
    for (const SummaryField &field : summary.fields) {
        if (field.key.ends_with("Crc32"))
            crcs.emplace_back(field.key, std::get<std::string>(field.value));
    }
    // The three little-endian numbers that end the patch, shown in hexadecimal.
    const auto stored = [&](size_t fromEnd) {
        return upperHex(fromLittleEndian<std::uint32_t>(patch.data() + patch.size() - fromEnd), 8);
    };
    EXPECT_EQ(crcs, (std::vector<std::pair<std::string, std::string>>{{"inputCrc32", stored(12)},
                                                                      {"outputCrc32", stored(8)},
                                                                      {"patchCrc32", stored(4)}}));
}
