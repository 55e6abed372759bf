#include "patch/PatchCreation.h"

#include "TestFiles.h"
#include "match/MatchCheck.h"
#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"
#include "patch/aps/ApsInspection.h"
#include "rom/ImageHeader.h"

#include <gtest/gtest.h>

#include <random>

using namespace tarnic;
using namespace testfiles;

namespace {

constexpr std::ptrdiff_t MiB = 1 << 20;

class ApsCreationTest : public ::testing::Test {
  protected:
    CreateResult create(const std::string &original, const std::string &modified,
                        const std::string &description = std::string("Test patch")) {
        writeFile(originalPath, original);
        writeFile(modifiedPath, modified);
        return createApsPatch({originalPath, modifiedPath, patchPath, description});
    }

    // Creates the patch, applies it to a copy of the original and checks that
    // the copy becomes the modified image. Returns the size of the records.
    std::int64_t roundTrip(const std::string &original, const std::string &modified) {
        const CreateResult created = create(original, modified);
        EXPECT_EQ(created.outcome, CreateOutcome::Created);
        const std::string target = fileWith(dir, std::string("target.z64"), original);
        PatchJob job;
        job.patchPath = patchPath;
        job.imagePath = target;
        EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
        EXPECT_TRUE(readFile(target) == modified) << "the patched copy differs";
        EXPECT_EQ(created.patchSize, readFile(patchPath).size());
        return created.patchSize - kApsHeaderSize;
    }

    TempDir dir;
    std::string originalPath = dir.filePath(std::string("original.z64"));
    std::string modifiedPath = dir.filePath(std::string("modified.z64"));
    std::string patchPath = dir.filePath(std::string("made.aps"));
};

} // namespace

TEST_F(ApsCreationTest, ApplyingTheCreatedPatchGivesTheModifiedImage) {
    const std::string base = cartridgeImage(2 * MiB + 77);
    using Change = std::function<void(std::string &)>;
    const std::pair<const char *, Change> changes[] = {
        {"first byte", [](std::string &m) { m[0] = 'x'; }},
        {"last byte", [](std::string &m) { m[m.size() - 1] = char(~m[m.size() - 1]); }},
        {"long run", [](std::string &m) { m.replace(5000, 3000, std::string(3000, '\xAA')); }},
        {"255 and 256 bytes",
         [](std::string &m) {
             m.replace(9000, 255, randomBytes(255, 1));
             m.replace(12000, 256, randomBytes(256, 2));
         }},
        {"across a piece boundary, with a gap on it",
         [](std::string &m) {
             m.replace(MiB - 300, 200, randomBytes(200, 3));
             m.replace(MiB + 50, 100, std::string(100, 'q'));
         }},
        {"a long stretch of changes",
         [](std::string &m) { m.replace(100, 700000, randomBytes(700000, 4)); }},
        {"scattered",
         [](std::string &m) {
             std::mt19937 random(5);
             for (int i = 0; i < 2000; ++i)
                 m[std::ptrdiff_t(random() % m.size())] = char(random());
         }},
        {"grown with zeros", [](std::string &m) { m += std::string(70000, '\0'); }},
        {"grown, zeros among the new bytes",
         [](std::string &m) {
             m += std::string(5000, '\0') + "TAIL" + std::string(300, '\0') + randomBytes(MiB, 6);
         }},
    };
    for (const std::string &original : {base, byteSwapped(base)}) {
        for (const auto &[what, change] : changes) {
            SCOPED_TRACE(what);
            std::string modified = original;
            change(modified);
            roundTrip(original, modified);
        }
    }
}

TEST_F(ApsCreationTest, RecordsAreTheSmallestEncoding) {
    std::string base = cartridgeImage(8192);
    base.replace(1000, 2000, std::string(2000, '\0'));
    base.replace(1003, 3, "\xFF\xFF\xFF");
    const auto at = [&](std::ptrdiff_t offset, const std::string &bytes) {
        std::string m = base;
        m.replace(offset, bytes.size(), bytes);
        return m;
    };
    std::string bridged = at(1000, "\xFF\xFF\xFF");
    bridged.replace(1006, 4, "\xFF\xFF\xFF\xFF");
    std::string joined = at(1100, "A");
    joined[1105] = 'B';
    std::string apart = at(1100, "A");
    apart[1108] = 'B';
    std::string gaps = at(1200, "A");
    for (const std::ptrdiff_t offset : {1205, 1211, 1218}) // 4, 5 and 6 unchanged bytes apart
        gaps[offset] = 'B';
    const std::tuple<const char *, std::string, std::int64_t> cases[] = {
        {"one byte: a copy", at(1000, "A"), 5 + 1},
        {"three equal bytes: a run", at(1000, "ZZZ"), 7},
        {"255 equal bytes: one run", at(1000, std::string(255, 'Z')), 7},
        {"256 equal bytes: a run and a copy", at(1000, std::string(256, 'Z')), 7 + 6},
        {"300 equal bytes: two runs", at(1000, std::string(300, 'Z')), 14},
        {"255 mixed bytes: one copy", at(1000, randomBytes(255, 7)), 260},
        {"256 mixed bytes: two copies", at(1000, randomBytes(256, 8)), 260 + 6},
        {"4 unchanged bytes between: joined", joined, 5 + 6},
        {"7 unchanged bytes between: apart", apart, 6 + 6},
        {"gaps of 4, 5 and 6 unchanged bytes", gaps, 11 + 6 + 6},
        {"a mixed stretch split", at(1000, std::string("ABCDEFGH") + std::string(20, 'Z') + "IJ"),
         13 + 7 + 7},
        {"unchanged bytes inside a run", bridged, 7},
        {"grown by zeros: the last byte only", base + std::string(1000, '\0'), 6},
        {"grown: a gap of zeros left out",
         base + std::string(400, '\0') + "X" + std::string(400, '\0'), 6 + 6},
    };
    for (const auto &[what, modified, size] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(roundTrip(base, modified), size);
    }
}

TEST_F(ApsCreationTest, TheHeaderDescribesTheOriginalAsTheWindowShowsIt) {
    for (const std::string &original : {cartridgeImage(4096), byteSwapped(cartridgeImage(4096))}) {
        std::string modified = original + "MORE";
        // Given in UTF-8, written in Latin-1.
        ASSERT_EQ(create(original, modified, "Traduction \u00e9t\u00e9").outcome,
                  CreateOutcome::Created);
        const std::string patch = readFile(patchPath);
        EXPECT_EQ(mid(patch, 5, 2), std::string("\x01\x00", 2));
        EXPECT_EQ(mid(patch, 7, 50), padded(std::string("Traduction \xE9t\xE9"), 50));
        EXPECT_EQ(mid(patch, 69, 9), fromHex("0000000000") + fromHex("04100000"));

        const ApsInspection shownPatch = inspectApsPatch(patchPath);
        const ImageInspection shownImage = inspectImage(originalPath);
        EXPECT_TRUE(allPairsEqual(
            comparePairs(imageSideTexts(shownImage.display), patchSideTexts(shownPatch.display))));
        EXPECT_EQ(*shownPatch.display.PatchTypeTxT, std::string("N64 Specific Patch            "));
    }
}

TEST_F(ApsCreationTest, RefusalsWriteNothing) {
    const std::string image = cartridgeImage(4096);
    EXPECT_EQ(create(image, left(image, 4000)).outcome, CreateOutcome::ModifiedShorter);
    EXPECT_EQ(create(std::string("not an image at all"), image).outcome,
              CreateOutcome::OriginalNotAnImage);
    EXPECT_EQ(create(image, image, std::string(51, u'x')).outcome,
              CreateOutcome::DescriptionTooLong);
    EXPECT_EQ(create(image, image, std::string("\u20AC")).outcome,
              CreateOutcome::DescriptionTooLong);
    EXPECT_FALSE(std::filesystem::exists(patchPath));
    writeFile(patchPath, "kept");
    makeReadOnly(patchPath); // replaced only where it may be written
    EXPECT_EQ(create(image, image + "X").outcome, CreateOutcome::WriteFailed);
    EXPECT_EQ(readFile(patchPath), "kept");

    patchPath = modifiedPath;
    EXPECT_EQ(create(image, image + "X").outcome, CreateOutcome::PatchIsAnInput);
    EXPECT_EQ(readFile(modifiedPath), image + "X");
    EXPECT_EQ(readFile(originalPath), image);
}
