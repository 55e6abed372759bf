#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"

#include "TestFiles.h"
#include "files/Backup.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class ApsApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        job.patchPath = dir.filePath(std::string("fix.aps"));
        job.imagePath = dir.filePath(std::string("game.z64"));
        writeFile(job.imagePath, image);
    }

    ApplyResult apply(const std::string &records, bool withBackup = false) {
        writeFile(job.patchPath, apsHeader() + records);
        job.backupPath = withBackup ? tarnic::backupNameOf(job.imagePath) : std::filesystem::path();
        return applyApsPatch(job);
    }

    std::vector<std::string> files() const { return fileNames(dir.path()); }

    TempDir dir;
    std::string image = cartridgeImage(1000);
    PatchJob job;
};

} // namespace

TEST_F(ApsApplicationTest, WritesRecordsInFileOrderAndBacksUpTheOldImage) {
    const std::string records = copyRecord(100, "ABCDEF") + runRecord(102, 'z', 2) +
                                runRecord(0, 'q', 0) + copyRecord(200, std::string(255, 'L')) +
                                copyRecord(998, "1234") + runRecord(1010, 0x55, 3);
    namespace fs = std::filesystem;
    fs::permissions(job.imagePath,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    // Someone else's image, patched by root (the tests' usual user here),
    // stays that someone's.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::chown(job.imagePath.c_str(), 4321, 4321), 0);
    }
    const ApplyResult r = apply(records, true);
    ASSERT_EQ(r.outcome, ApplyOutcome::Applied);
    EXPECT_EQ(r.records, 6);
    EXPECT_EQ(r.bytesWritten, 6 + 2 + 255 + 4 + 3);

    std::string expected = image;
    expected.replace(100, 6, "ABzzEF"); // the later record wins
    expected.replace(200, 255, std::string(255, 'L'));
    expected.replace(998, 2, "1234");                        // past the end: the image grows
    expected += std::string(8, '\0') + std::string(3, 0x55); // a gap before a record is zeros
    EXPECT_EQ(readFile(job.imagePath), expected);
    EXPECT_EQ(readFile(job.backupPath), image);
    EXPECT_EQ(fs::status(job.imagePath).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    if (asRoot) {
        struct stat owner {};
        ASSERT_EQ(::stat(job.imagePath.c_str(), &owner), 0);
        EXPECT_EQ(owner.st_uid, 4321u);
        EXPECT_EQ(owner.st_gid, 4321u);
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"fix.aps", "game.z64", "game.z64.BAK"}));

    // Applying again gives the same image; the backup now holds the patched one.
    ASSERT_EQ(apply(records, true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), expected);
    EXPECT_EQ(readFile(job.backupPath), expected);
}

TEST_F(ApsApplicationTest, ASimplePatchHasItsRecordsFrom61AndCanWriteElsewhere) {
    writeFile(job.patchPath,
              simpleApsHeader("Simple", 1000) + copyRecord(10, "SIMPLE") + runRecord(400, '-', 3));
    job.outputPath = dir.filePath(std::string("patched.z64"));
    const ApplyResult r = applyApsPatch(job);
    ASSERT_EQ(r.outcome, ApplyOutcome::Applied);
    EXPECT_EQ(r.records, 2);
    EXPECT_EQ(readFile(job.outputPath),
              std::string(image).replace(10, 6, "SIMPLE").replace(400, 3, "---"));
    EXPECT_EQ(readFile(job.imagePath), image); // only read
    EXPECT_EQ(checkApsFile(job.patchPath).declaredImageSize, 1000u);

    writeFile(job.patchPath, left(simpleApsHeader("Cut", 1000), 60));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::PatchTruncated);
    makeReadOnly(job.outputPath);
    writeFile(job.patchPath, simpleApsHeader("Simple", 1000));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::DestinationUnwritable);
}

// The header's image size is the modified image's: a result shorter than it
// grows to it with zeros, a longer one is never shortened, and a size no APS
// offset reaches is no image's and is left alone.
TEST_F(ApsApplicationTest, TheResultGrowsToTheHeadersImageSizeAndIsNeverShortened) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {1200, std::string(image).replace(10, 2, "OK") + std::string(200, '\0')},
        {1001, std::string(image).replace(10, 2, "OK") + '\0'},
        {500, std::string(image).replace(10, 2, "OK")},
        {0x80000000u, std::string(image).replace(10, 2, "OK")},
    };
    for (const auto &[imageSize, expected] : cases) {
        SCOPED_TRACE(imageSize);
        writeFile(job.imagePath, image);
        ApsFields fields;
        fields.imageSize = imageSize;
        writeFile(job.patchPath, apsHeader(fields) + copyRecord(10, "OK"));
        ASSERT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
        EXPECT_EQ(readFile(job.imagePath), expected);
    }
    // A simple patch's size, at 57, counts as well; so from the byte-swapped
    // image, which grows in its own order.
    writeFile(job.imagePath, byteSwapped(image));
    writeFile(job.patchPath, simpleApsHeader("Simple", 1004) + copyRecord(1, "AB"));
    ASSERT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath),
              std::string(byteSwapped(image)).replace(1, 2, "AB") + std::string(4, '\0'));
}

TEST_F(ApsApplicationTest, APatchTooLargeToHoldInMemoryGivesTheSameImage) {
    // About 17 MiB of records, past what is held in memory: they are written
    // one by one after the copy. Each writes its own stretch of a 17 MB image,
    // overlapping the one before by 5 bytes, so every record shows.
    std::string records;
    std::string expected = image;
    for (int i = 0; i < 70000; ++i) {
        const int offset = i * 250;
        std::string data = std::to_string(i);
        data.resize(255, char('a' + i % 26));
        records += copyRecord(offset, data);
        if (size_t(offset + 255) > expected.size())
            expected.resize(offset + 255, '\0');
        expected.replace(offset, 255, data);
    }
    // The result grows past the last record to the header's image size.
    expected.resize(expected.size() + 70000, '\0');
    ApsFields fields;
    fields.imageSize = std::uint32_t(expected.size());
    writeFile(job.patchPath, apsHeader(fields) + records);
    ASSERT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(readFile(job.imagePath) == expected);
}

TEST_F(ApsApplicationTest, BackupsOffEmptyStreamsAndALinkedImage) {
    ASSERT_EQ(apply(std::string()).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), image);
    EXPECT_EQ(files(), (std::vector<std::string>{"fix.aps", "game.z64"}));

    ASSERT_EQ(apply(std::string(), true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(tarnic::backupNameOf(job.imagePath)), image);

    // A read-only backup is replaced.
    makeReadOnly(tarnic::backupNameOf(job.imagePath));
    ASSERT_EQ(apply(copyRecord(0, "X"), true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(tarnic::backupNameOf(job.imagePath)), image);

    // A link to the image still points at the patched image afterwards.
    const std::filesystem::path link = dir.filePath("link.z64");
    std::error_code linked;
    std::filesystem::create_symlink(job.imagePath, link, linked);
    ASSERT_FALSE(linked);
    job.imagePath = link;
    const std::string beforeLinkedPatch = readFile(link);
    ASSERT_EQ(apply(copyRecord(1, "Y"), true).outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(left(readFile(dir.filePath("game.z64")), 2), std::string("XY"));
    EXPECT_FALSE(std::filesystem::is_symlink(link.native() + ".BAK"));
    EXPECT_EQ(readFile(link.native() + ".BAK"), beforeLinkedPatch);
}

TEST_F(ApsApplicationTest, ADeclinedOrRefusedPatchTouchesNothing) {
    int questions = 0;
    job.confirm = [&] {
        ++questions;
        return false;
    };
    EXPECT_EQ(apply(copyRecord(0, "X"), true).outcome, ApplyOutcome::Declined);
    EXPECT_EQ(questions, 1);

    ApsFields notAps;
    notAps.magic = "APS1O";
    ApsFields encoded;
    encoded.encoding = 1;
    const std::pair<std::string, ApplyOutcome> refused[] = {
        {apsHeader(notAps), ApplyOutcome::NotAnApsFile},
        {apsHeader(encoded), ApplyOutcome::UnsupportedEncoding},
        {left(apsHeader(), 60), ApplyOutcome::PatchTruncated},
        {left(apsHeader(), 6), ApplyOutcome::PatchTruncated},
        {apsHeader() + copyRecord(0, "X") + chopped(copyRecord(5, "ABC"), 1),
         ApplyOutcome::InvalidPatch},
        {apsHeader() + chopped(runRecord(5, 1, 1), 1), ApplyOutcome::InvalidPatch},
        {apsHeader() + copyRecord(0, "X") + copyRecord(-1, "A"), ApplyOutcome::InvalidPatch},
        {apsHeader() + runRecord(0x7FFFFFF0, 1, 17), ApplyOutcome::InvalidPatch},
        {apsHeader() + runRecord(0x7FFFFFFF, 1, 0), ApplyOutcome::InvalidPatch},
    };
    for (const auto &[patch, outcome] : refused) {
        writeFile(job.patchPath, patch);
        job.backupPath = tarnic::backupNameOf(job.imagePath);
        EXPECT_EQ(applyApsPatch(job).outcome, outcome);
    }
    EXPECT_EQ(questions, 1); // a refused patch asks nothing

    job.patchPath = dir.filePath(std::string("gone.aps"));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::PatchUnreadable);

    EXPECT_EQ(readFile(job.imagePath), image);
    EXPECT_EQ(files(), (std::vector<std::string>{"fix.aps", "game.z64"}));
}

TEST_F(ApsApplicationTest, AnImageThatCannotBeWrittenIsRefusedBeforeTheQuestion) {
    bool asked = false;
    job.confirm = [&] {
        asked = true;
        return true;
    };
    makeReadOnly(job.imagePath);
    EXPECT_EQ(apply(copyRecord(0, "X"), true).outcome, ApplyOutcome::DestinationUnwritable);
    EXPECT_EQ(readFile(job.imagePath), image);

    job.imagePath = dir.filePath(std::string("missing.z64"));
    EXPECT_EQ(apply(copyRecord(0, "X")).outcome, ApplyOutcome::DestinationUnwritable);
    EXPECT_FALSE(std::filesystem::exists(job.imagePath)); // never created
    EXPECT_FALSE(asked);
}

TEST_F(ApsApplicationTest, APatchThatNamesItsByteOrderIsAppliedInItToAnImageInAnyOrder) {
    // Records across a word, and one past the end that leaves a length of no
    // whole number of words.
    const std::string records = copyRecord(101, "ABCDEF") + copyRecord(997, "XYZW12");
    std::string patched = image;
    patched.replace(101, 6, "ABCDEF");
    patched = left(patched, 997) + "XYZW12";
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        writeFile(job.imagePath, inOrder(image, order));
        EXPECT_EQ(apply(records).outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(readFile(job.imagePath), inOrder(patched, order)) << int(order);
    }
    // Made for the byte-swapped image (target format 0), onto the cartridge-order one.
    ApsFields forV64;
    forV64.target = 0;
    writeFile(job.imagePath, image);
    writeFile(job.patchPath, apsHeader(forV64) + copyRecord(101, "ABCDEF"));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath),
              byteSwapped(std::string(byteSwapped(image)).replace(101, 6, "ABCDEF")));
}
