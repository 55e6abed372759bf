#include "patch/PatchCreation.h"
#include "patch/ips/IpsFormat.h"

#include "TestFiles.h"
#include "patch/PatchApplication.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class IpsCreationTest : public ::testing::Test {
  protected:
    // Creates the patch, applies it to a copy of the original and checks the
    // copy becomes the modified image; returns the patch.
    QByteArray roundTrip(const QByteArray &original, const QByteArray &modified) {
        writeFile(job.originalPath, original);
        writeFile(job.modifiedPath, modified);
        EXPECT_EQ(createIpsPatch(job).outcome, CreateOutcome::Created);
        const QString copy = fileWith(dir, "copy.rom", original);
        EXPECT_EQ(applyIps({job.patchPath, pathOf(copy), {}, {}, {}, {}, false}).outcome,
                  ApplyOutcome::Applied);
        EXPECT_TRUE(readFile(copy) == modified);
        return readFile(job.patchPath);
    }

    QTemporaryDir dir;
    CreateJob job{pathOf(dir.filePath("a.rom")),
                  pathOf(dir.filePath("b.rom")),
                  pathOf(dir.filePath("p.ips")),
                  {}};
};

} // namespace

TEST_F(IpsCreationTest, RoundTripsWithRunsTheEofOffsetAndBothLengths) {
    const QByteArray base = cartridgeImage(0x460000); // past the offset that reads "EOF"
    QByteArray changed = base;
    changed.replace(0x100, 3, "abc");
    changed.replace(0x104, 2, "de"); // one unchanged byte between: one record
    changed.replace(0x2000, 40000, QByteArray(40000, 'R'));
    changed.replace(0x454F46, 4, "EOF!");
    const QByteArray patch = roundTrip(base, changed);
    EXPECT_EQ(patch.left(5), "PATCH");
    EXPECT_EQ(patch.right(3), "EOF");
    EXPECT_FALSE(patch.contains(QByteArray("\x45\x4F\x46\x00", 4))); // no record at 0x454F46
    EXPECT_LT(patch.size(), 1000); // the 40,000 equal bytes as runs

    roundTrip(base, base.left(1000) + "GROWN" + QByteArray(3, '\0') + base.mid(1008) + "MORE");
    const QByteArray shorter = roundTrip(base, base.left(0x3000));
    EXPECT_EQ(shorter, QByteArray("PATCHEOF") + QByteArray::fromHex("003000"));
}

TEST_F(IpsCreationTest, AnImagePastSixteenMebibytesIsRefusedNamingBps) {
    writeFile(job.originalPath, cartridgeImage(4096));
    writeFile(job.modifiedPath, QByteArray((1 << 24) + 1, 'x'));
    EXPECT_EQ(createIpsPatch(job).outcome, CreateOutcome::TooLargeForFormat);
    EXPECT_FALSE(QFile::exists(job.patchPath));
}
