#include "patch/PatchCreation.h"

#include "TestFiles.h"
#include "match/MatchCheck.h"
#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"
#include "patch/aps/ApsInspection.h"
#include "rom/ImageHeader.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace tarnic;
using namespace testfiles;

namespace {

constexpr qsizetype MiB = 1 << 20;

class PatchCreationTest : public ::testing::Test {
  protected:
    CreateResult create(const QByteArray &original, const QByteArray &modified,
                        const QString &description = QStringLiteral("Test patch")) {
        writeFile(originalPath, original);
        writeFile(modifiedPath, modified);
        return createApsPatch(
            {pathOf(originalPath), pathOf(modifiedPath), pathOf(patchPath), description});
    }

    // Creates the patch, applies it to a copy of the original and checks that
    // the copy becomes the modified image. Returns the size of the records.
    qint64 roundTrip(const QByteArray &original, const QByteArray &modified) {
        const CreateResult created = create(original, modified);
        EXPECT_EQ(created.outcome, CreateOutcome::Created);
        const QString target = fileWith(dir, QStringLiteral("target.z64"), original);
        PatchJob job;
        job.patchPath = pathOf(patchPath);
        job.imagePath = pathOf(target);
        EXPECT_EQ(applyApsPatch(job).outcome, ApplyOutcome::Applied);
        EXPECT_TRUE(readFile(target) == modified) << "the patched copy differs";
        EXPECT_EQ(created.patchSize, readFile(patchPath).size());
        return created.patchSize - kApsHeaderSize;
    }

    QTemporaryDir dir;
    QString originalPath = dir.filePath(QStringLiteral("original.z64"));
    QString modifiedPath = dir.filePath(QStringLiteral("modified.z64"));
    QString patchPath = dir.filePath(QStringLiteral("made.aps"));
};

} // namespace

TEST_F(PatchCreationTest, ApplyingTheCreatedPatchGivesTheModifiedImage) {
    const QByteArray base = cartridgeImage(2 * MiB + 77);
    using Change = std::function<void(QByteArray &)>;
    const std::pair<const char *, Change> changes[] = {
        {"first byte", [](QByteArray &m) { m[0] = 'x'; }},
        {"last byte", [](QByteArray &m) { m[m.size() - 1] = char(~m[m.size() - 1]); }},
        {"long run", [](QByteArray &m) { m.replace(5000, 3000, QByteArray(3000, '\xAA')); }},
        {"255 and 256 bytes",
         [](QByteArray &m) {
             m.replace(9000, 255, randomBytes(255, 1));
             m.replace(12000, 256, randomBytes(256, 2));
         }},
        {"across a piece boundary, with a gap on it",
         [](QByteArray &m) {
             m.replace(MiB - 300, 200, randomBytes(200, 3));
             m.replace(MiB + 50, 100, QByteArray(100, 'q'));
         }},
        {"a long stretch of changes",
         [](QByteArray &m) { m.replace(100, 700000, randomBytes(700000, 4)); }},
        {"scattered",
         [](QByteArray &m) {
             std::mt19937 random(5);
             for (int i = 0; i < 2000; ++i)
                 m[qsizetype(random() % m.size())] = char(random());
         }},
        {"grown with zeros", [](QByteArray &m) { m += QByteArray(70000, '\0'); }},
        {"grown, zeros among the new bytes",
         [](QByteArray &m) {
             m += QByteArray(5000, '\0') + "TAIL" + QByteArray(300, '\0') + randomBytes(MiB, 6);
         }},
    };
    for (const QByteArray &original : {base, byteSwapped(base)}) {
        for (const auto &[what, change] : changes) {
            SCOPED_TRACE(what);
            QByteArray modified = original;
            change(modified);
            roundTrip(original, modified);
        }
    }
}

TEST_F(PatchCreationTest, RecordsAreTheSmallestEncoding) {
    QByteArray base = cartridgeImage(8192);
    base.replace(1000, 2000, QByteArray(2000, '\0'));
    base.replace(1003, 3, "\xFF\xFF\xFF");
    const auto at = [&](qsizetype offset, const QByteArray &bytes) {
        QByteArray m = base;
        m.replace(offset, bytes.size(), bytes);
        return m;
    };
    QByteArray bridged = at(1000, "\xFF\xFF\xFF");
    bridged.replace(1006, 4, "\xFF\xFF\xFF\xFF");
    QByteArray joined = at(1100, "A");
    joined[1105] = 'B';
    QByteArray apart = at(1100, "A");
    apart[1108] = 'B';
    QByteArray gaps = at(1200, "A");
    for (const qsizetype offset : {1205, 1211, 1218}) // 4, 5 and 6 unchanged bytes apart
        gaps[offset] = 'B';
    const std::tuple<const char *, QByteArray, qint64> cases[] = {
        {"one byte: a copy", at(1000, "A"), 5 + 1},
        {"three equal bytes: a run", at(1000, "ZZZ"), 7},
        {"255 equal bytes: one run", at(1000, QByteArray(255, 'Z')), 7},
        {"256 equal bytes: a run and a copy", at(1000, QByteArray(256, 'Z')), 7 + 6},
        {"300 equal bytes: two runs", at(1000, QByteArray(300, 'Z')), 14},
        {"255 mixed bytes: one copy", at(1000, randomBytes(255, 7)), 260},
        {"256 mixed bytes: two copies", at(1000, randomBytes(256, 8)), 260 + 6},
        {"4 unchanged bytes between: joined", joined, 5 + 6},
        {"7 unchanged bytes between: apart", apart, 6 + 6},
        {"gaps of 4, 5 and 6 unchanged bytes", gaps, 11 + 6 + 6},
        {"a mixed stretch split", at(1000, QByteArray("ABCDEFGH") + QByteArray(20, 'Z') + "IJ"),
         13 + 7 + 7},
        {"unchanged bytes inside a run", bridged, 7},
        {"grown by zeros: the last byte only", base + QByteArray(1000, '\0'), 6},
        {"grown: a gap of zeros left out",
         base + QByteArray(400, '\0') + "X" + QByteArray(400, '\0'), 6 + 6},
    };
    for (const auto &[what, modified, size] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(roundTrip(base, modified), size);
    }
}

TEST_F(PatchCreationTest, TheHeaderDescribesTheOriginalAsTheWindowShowsIt) {
    for (const QByteArray &original : {cartridgeImage(4096), byteSwapped(cartridgeImage(4096))}) {
        QByteArray modified = original + "MORE";
        ASSERT_EQ(create(original, modified, QStringLiteral("Traduction \xE9t\xE9")).outcome,
                  CreateOutcome::Created);
        const QByteArray patch = readFile(patchPath);
        EXPECT_EQ(patch.mid(5, 2), QByteArray("\x01\x00", 2));
        EXPECT_EQ(patch.mid(7, 50), QByteArray("Traduction \xE9t\xE9").leftJustified(50, ' '));
        EXPECT_EQ(patch.mid(69, 9),
                  QByteArray::fromHex("0000000000") + QByteArray::fromHex("04100000"));

        const ApsInspection shownPatch = inspectApsPatch(pathOf(patchPath));
        const ImageInspection shownImage = inspectImage(pathOf(originalPath));
        EXPECT_TRUE(allPairsEqual(
            comparePairs(imageSideTexts(shownImage.display), patchSideTexts(shownPatch.display))));
        EXPECT_EQ(*shownPatch.display.PatchTypeTxT,
                  QStringLiteral("N64 Specific Patch            "));
    }
}

TEST_F(PatchCreationTest, RefusalsWriteNothing) {
    const QByteArray image = cartridgeImage(4096);
    EXPECT_EQ(create(image, image.left(4000)).outcome, CreateOutcome::ModifiedShorter);
    EXPECT_EQ(create(QByteArray("not an image at all"), image).outcome,
              CreateOutcome::OriginalNotAnImage);
    EXPECT_EQ(create(image, image, QString(51, u'x')).outcome, CreateOutcome::DescriptionTooLong);
    EXPECT_EQ(create(image, image, QStringLiteral("\u20AC")).outcome,
              CreateOutcome::DescriptionTooLong);
    EXPECT_FALSE(QFile::exists(patchPath));
    writeFile(patchPath, "kept");
    makeReadOnly(patchPath); // replaced only where it may be written
    EXPECT_EQ(create(image, image + "X").outcome, CreateOutcome::WriteFailed);
    EXPECT_EQ(readFile(patchPath), "kept");

    patchPath = modifiedPath;
    EXPECT_EQ(create(image, image + "X").outcome, CreateOutcome::PatchIsAnInput);
    EXPECT_EQ(readFile(modifiedPath), image + "X");
    EXPECT_EQ(readFile(originalPath), image);
}
