#include "patch/PatchCreation.h"
#include "patch/ips/IpsFormat.h"

#include "TestFiles.h"
#include "patch/PatchApplication.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class IpsCreationTest : public ::testing::Test {
  protected:
    // Creates the patch, applies it to a copy of the original and checks the
    // copy becomes the modified image; returns the patch.
    std::string roundTrip(const std::string &original, const std::string &modified) {
        writeFile(job.originalPath, original);
        writeFile(job.modifiedPath, modified);
        EXPECT_EQ(createIpsPatch(job).outcome, CreateOutcome::Created);
        const std::string copy = fileWith(dir, "copy.rom", original);
        EXPECT_EQ(applyIps({job.patchPath, copy, {}, {}, {}, {}, false}).outcome,
                  ApplyOutcome::Applied);
        EXPECT_TRUE(readFile(copy) == modified);
        return readFile(job.patchPath);
    }

    TempDir dir;
    CreateJob job{dir.filePath("a.rom"), dir.filePath("b.rom"), dir.filePath("p.ips"), {}};
};

} // namespace

TEST_F(IpsCreationTest, RoundTripsWithRunsTheEofOffsetAndBothLengths) {
    const std::string base = cartridgeImage(0x460000); // past the offset that reads "EOF"
    std::string changed = base;
    changed.replace(0x100, 3, "abc");
    changed.replace(0x104, 2, "de"); // one unchanged byte between: one record
    changed.replace(0x2000, 40000, std::string(40000, 'R'));
    changed.replace(0x454F46, 4, "EOF!");
    const std::string patch = roundTrip(base, changed);
    EXPECT_EQ(left(patch, 5), "PATCH");
    EXPECT_EQ(right(patch, 3), "EOF");
    EXPECT_FALSE(contains(patch, std::string("\x45\x4F\x46\x00", 4))); // no record at 0x454F46
    EXPECT_LT(patch.size(), 1000); // the 40,000 equal bytes as runs

    roundTrip(base, left(base, 1000) + "GROWN" + std::string(3, '\0') + mid(base, 1008) + "MORE");
    // Grown by zeros alone: the last one is written so that the length is right.
    const std::string zeros = roundTrip(base, base + std::string(5000, '\0'));
    EXPECT_LT(zeros.size(), 40);
    // A run longer than a run record holds takes two.
    std::string run = base;
    run.replace(0x10000, 70000, std::string(70000, 'Q'));
    EXPECT_LT(roundTrip(base, run).size(), 40);
    // Exactly 16 MiB, its last byte changed: the largest image IPS addresses.
    const std::string full = cartridgeImage(1 << 24);
    std::string lastChanged = full;
    lastChanged.back() = char(~lastChanged.back());
    EXPECT_EQ(roundTrip(full, lastChanged),
              "PATCH" + fromHex("ffffff0001") + lastChanged.substr(lastChanged.size() - 1) + "EOF");
    const std::string shorter = roundTrip(base, left(base, 0x3000));
    EXPECT_EQ(shorter, std::string("PATCHEOF") + fromHex("003000"));
}

TEST_F(IpsCreationTest, AnImagePastSixteenMebibytesIsRefusedNamingBps) {
    writeFile(job.originalPath, cartridgeImage(4096));
    writeFile(job.modifiedPath, std::string((1 << 24) + 1, 'x'));
    EXPECT_EQ(createIpsPatch(job).outcome, CreateOutcome::TooLargeForFormat);
    EXPECT_FALSE(std::filesystem::exists(job.patchPath));
}
