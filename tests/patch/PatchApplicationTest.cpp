#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"

#include "TestFiles.h"
#include "files/Backup.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class PatchApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        job.patchPath = pathOf(dir.filePath(QStringLiteral("fix.aps")));
        job.imagePath = pathOf(dir.filePath(QStringLiteral("game.z64")));
        writeFile(job.imagePath, image);
    }

    ApplyResult apply(const QByteArray &records, bool withBackup = false) {
        writeFile(job.patchPath, apsHeader() + records);
        job.backupPath = withBackup ? tarnic::backupNameOf(job.imagePath) : std::filesystem::path();
        return applyApsPatch(job);
    }

    QStringList files() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir dir;
    QByteArray image = cartridgeImage(1000);
    PatchJob job;
};

} // namespace

TEST_F(PatchApplicationTest, WritesRecordsInFileOrderAndBacksUpTheOldImage) {
    const QByteArray records = copyRecord(100, "ABCDEF") + runRecord(102, 'z', 2) +
                               runRecord(0, 'q', 0) + copyRecord(200, QByteArray(255, 'L')) +
                               copyRecord(998, "1234") + runRecord(1010, 0x55, 3);
    QFile::setPermissions(job.imagePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadOther);
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

    QByteArray expected = image;
    expected.replace(100, 6, "ABzzEF"); // the later record wins
    expected.replace(200, 255, QByteArray(255, 'L'));
    expected.replace(998, 2, "1234");                      // past the end: the image grows
    expected += QByteArray(8, '\0') + QByteArray(3, 0x55); // a gap before a record is zeros
    EXPECT_EQ(readFile(job.imagePath), expected);
    EXPECT_EQ(readFile(job.backupPath), image);
    const int ownerGroupOther = 0x7077; // the user's own bits depend on who runs the test
    EXPECT_EQ(QFileInfo(job.imagePath).permissions() & ownerGroupOther,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    if (asRoot) {
        EXPECT_EQ(QFileInfo(job.imagePath).ownerId(), 4321u);
        EXPECT_EQ(QFileInfo(job.imagePath).groupId(), 4321u);
    }
    EXPECT_EQ(files(), (QStringList{"fix.aps", "game.z64", "game.z64.BAK"}));

    // Applying again gives the same image; the backup now holds the patched one.
    ASSERT_EQ(apply(records, true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), expected);
    EXPECT_EQ(readFile(job.backupPath), expected);
}

TEST_F(PatchApplicationTest, ASimplePatchHasItsRecordsFrom61AndCanWriteElsewhere) {
    writeFile(job.patchPath,
              simpleApsHeader("Simple", 1000) + copyRecord(10, "SIMPLE") + runRecord(400, '-', 3));
    job.outputPath = pathOf(dir.filePath(QStringLiteral("patched.z64")));
    const ApplyResult r = applyApsPatch(job);
    ASSERT_EQ(r.outcome, ApplyOutcome::Applied);
    EXPECT_EQ(r.records, 2);
    EXPECT_EQ(readFile(job.outputPath),
              QByteArray(image).replace(10, 6, "SIMPLE").replace(400, 3, "---"));
    EXPECT_EQ(readFile(job.imagePath), image); // only read
    EXPECT_EQ(checkApsFile(job.patchPath).declaredImageSize, 1000u);

    writeFile(job.patchPath, simpleApsHeader("Cut", 1000).left(60));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::PatchTruncated);
    makeReadOnly(job.outputPath);
    writeFile(job.patchPath, simpleApsHeader("Simple", 1000));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::DestinationUnwritable);
}

TEST_F(PatchApplicationTest, APatchTooLargeToHoldInMemoryGivesTheSameImage) {
    // About 17 MiB of records, past what is held in memory: they are written
    // one by one after the copy. Each writes its own stretch of a 17 MB image,
    // overlapping the one before by 5 bytes, so every record shows.
    QByteArray records;
    QByteArray expected = image;
    for (int i = 0; i < 70000; ++i) {
        const int offset = i * 250;
        const QByteArray data = QByteArray::number(i).leftJustified(255, char('a' + i % 26));
        records += copyRecord(offset, data);
        if (offset + 255 > expected.size())
            expected.resize(offset + 255, '\0');
        expected.replace(offset, 255, data);
    }
    ASSERT_EQ(apply(records).outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(readFile(job.imagePath) == expected);
}

TEST_F(PatchApplicationTest, BackupsOffEmptyStreamsAndALinkedImage) {
    ASSERT_EQ(apply(QByteArray()).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), image);
    EXPECT_EQ(files(), (QStringList{"fix.aps", "game.z64"}));

    ASSERT_EQ(apply(QByteArray(), true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(tarnic::backupNameOf(job.imagePath)), image);

    // A read-only backup is replaced.
    makeReadOnly(tarnic::backupNameOf(job.imagePath));
    ASSERT_EQ(apply(copyRecord(0, "X"), true).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(tarnic::backupNameOf(job.imagePath)), image);

    // A link to the image still points at the patched image afterwards.
    const QString link = dir.filePath(QStringLiteral("link.z64"));
    ASSERT_TRUE(QFile::link(nameText(job.imagePath), link));
    job.imagePath = pathOf(link);
    const QByteArray beforeLinkedPatch = readFile(link);
    ASSERT_EQ(apply(copyRecord(1, "Y"), true).outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(dir.filePath("game.z64")).left(2), QByteArray("XY"));
    EXPECT_FALSE(QFileInfo(link + ".BAK").isSymLink());
    EXPECT_EQ(readFile(link + ".BAK"), beforeLinkedPatch);
}

TEST_F(PatchApplicationTest, ADeclinedOrRefusedPatchTouchesNothing) {
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
    const std::pair<QByteArray, ApplyOutcome> refused[] = {
        {apsHeader(notAps), ApplyOutcome::NotAnApsFile},
        {apsHeader(encoded), ApplyOutcome::UnsupportedEncoding},
        {apsHeader().left(60), ApplyOutcome::PatchTruncated},
        {apsHeader().left(6), ApplyOutcome::PatchTruncated},
        {apsHeader() + copyRecord(0, "X") + copyRecord(5, "ABC").chopped(1),
         ApplyOutcome::InvalidPatch},
        {apsHeader() + runRecord(5, 1, 1).chopped(1), ApplyOutcome::InvalidPatch},
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

    job.patchPath = pathOf(dir.filePath(QStringLiteral("gone.aps")));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::PatchUnreadable);

    EXPECT_EQ(readFile(job.imagePath), image);
    EXPECT_EQ(files(), (QStringList{"fix.aps", "game.z64"}));
}

TEST_F(PatchApplicationTest, AnImageThatCannotBeWrittenIsRefusedBeforeTheQuestion) {
    bool asked = false;
    job.confirm = [&] {
        asked = true;
        return true;
    };
    makeReadOnly(job.imagePath);
    EXPECT_EQ(apply(copyRecord(0, "X"), true).outcome, ApplyOutcome::DestinationUnwritable);
    EXPECT_EQ(readFile(job.imagePath), image);

    job.imagePath = pathOf(dir.filePath(QStringLiteral("missing.z64")));
    EXPECT_EQ(apply(copyRecord(0, "X")).outcome, ApplyOutcome::DestinationUnwritable);
    EXPECT_FALSE(QFile::exists(job.imagePath)); // never created
    EXPECT_FALSE(asked);
}

namespace {

// An image in another byte order, as the copiers store it.
QByteArray stored(const QByteArray &z64, ByteOrder order) {
    return order == ByteOrder::ByteSwapped    ? byteSwapped(z64)
           : order == ByteOrder::LittleEndian ? wordsReversed(z64)
                                              : z64;
}

} // namespace

TEST_F(PatchApplicationTest, APatchThatNamesItsByteOrderIsAppliedInItToAnImageInAnyOrder) {
    // Records across a word, and one past the end that leaves a length of no
    // whole number of words.
    const QByteArray records = copyRecord(101, "ABCDEF") + copyRecord(997, "XYZW12");
    QByteArray patched = image;
    patched.replace(101, 6, "ABCDEF");
    patched = patched.left(997) + "XYZW12";
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        writeFile(job.imagePath, stored(image, order));
        EXPECT_EQ(apply(records).outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(readFile(job.imagePath), stored(patched, order)) << int(order);
    }
    // Made for the byte-swapped image (target format 0), onto the cartridge-order one.
    ApsFields forV64;
    forV64.target = 0;
    writeFile(job.imagePath, image);
    writeFile(job.patchPath, apsHeader(forV64) + copyRecord(101, "ABCDEF"));
    EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath),
              byteSwapped(QByteArray(byteSwapped(image)).replace(101, 6, "ABCDEF")));
}
