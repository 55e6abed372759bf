#include "patch/ups/Ups.h"

#include "TestFiles.h"
#include "patch/PatchFormat.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class UpsTest : public ::testing::Test {
  protected:
    ApplyResult apply(const QByteArray &patch, const QByteArray &image) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyPatchFile(job);
    }

    QTemporaryDir dir;
    PatchJob job{
        pathOf(dir.filePath("hack.ups")), pathOf(dir.filePath("game.rom")), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(UpsTest, HunksSizesAndByteOrdersAsTheAuthorDefinesThem) {
    const QByteArray in = cartridgeImage(4096);
    QByteArray out = in;
    out.replace(100, 3, "UPS");
    // The output longer and shorter than the input, a hunk at the very end.
    const QByteArray longer = out + "TAIL";
    const QByteArray shorter = out.left(3000);
    const struct {
        const char *what;
        QByteArray output;
        QByteArray hunks;
    } cases[] = {
        {"one hunk", out, bpsNumber(100) + upsXor(in.mid(100, 3), "UPS")},
        {"longer", longer,
         bpsNumber(100) + upsXor(in.mid(100, 3), "UPS") + bpsNumber(4096 - 104) +
             upsXor(QByteArray(), "TAIL")},
        {"shorter", shorter, bpsNumber(100) + upsXor(in.mid(100, 3), "UPS")},
    };
    for (const auto &c : cases) {
        for (const bool swapped : {false, true}) {
            const QByteArray image = swapped ? byteSwapped(in) : in;
            const ApplyResult r = apply(upsPatch(in, c.output, c.hunks), image);
            ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << c.what << swapped;
            EXPECT_EQ(readFile(job.imagePath), swapped ? byteSwapped(c.output) : c.output)
                << c.what << swapped;
        }
    }
}

TEST_F(UpsTest, AWrongImageADamagedPatchOrHunksPastTheirEndAreRefused) {
    const QByteArray in("UPS INPUT!");
    const QByteArray out("UPS OUTPUT");
    const QByteArray hunks = bpsNumber(4) + upsXor(in.mid(4), out.mid(4));
    QByteArray damaged = upsPatch(in, out, hunks);
    damaged[5] = char(damaged[5] ^ 1);
    const std::pair<QByteArray, ApplyOutcome> refused[] = {
        {damaged, ApplyOutcome::PatchCorrupted},
        {upsPatch("ANOTHER ONE", out, hunks), ApplyOutcome::WrongImage},
        {upsPatch(out, in, hunks), ApplyOutcome::AlreadyPatched},
        {upsPatch(in, out, hunks.chopped(1)), ApplyOutcome::PatchBreaksItsRules}, // no terminator
        {upsPatch(in, out, bpsNumber(4)), ApplyOutcome::PatchBreaksItsRules}, // a skip, no bytes
        {upsPatch(in, out, bpsNumber(4) + upsXor(in.mid(4, 2), "XX")),
         ApplyOutcome::ResultMismatch},
    };
    for (const auto &[patch, outcome] : refused) {
        EXPECT_EQ(apply(patch, in).outcome, outcome) << patch.toHex().toStdString();
        EXPECT_EQ(readFile(job.imagePath), in);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
    EXPECT_EQ(apply(upsPatch(in, out, hunks), in).outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), out);
}

TEST_F(UpsTest, HunksLongerThanARecordAcrossPiecesOfALargeImage) {
    // A 10,000-byte hunk across the first 1 MiB boundary, and an output that
    // grows by 1.5 MiB of new bytes (one hunk XORed onto zeros).
    // Every byte of a hunk differs, so that none of them ends it early.
    const QByteArray in = cartridgeImage(3 << 20);
    const qsizetype at = (1 << 20) - 5000;
    QByteArray changed = in.mid(at, 10000);
    for (char &c : changed)
        c = char(~c);
    const QByteArray grown = QByteArray(3 << 19, '\0').fill('G');
    const QByteArray out = QByteArray(in).replace(at, changed.size(), changed) + grown;
    const QByteArray hunks = bpsNumber(std::uint64_t(at)) + upsXor(in.mid(at, 10000), changed) +
                             bpsNumber((2 << 20) - 5001) + upsXor(QByteArray(), grown);
    for (const bool swapped : {false, true}) {
        const ApplyResult r = apply(upsPatch(in, out, hunks), swapped ? byteSwapped(in) : in);
        ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << swapped;
        EXPECT_TRUE(readFile(job.imagePath) == (swapped ? byteSwapped(out) : out)) << swapped;
    }
}
