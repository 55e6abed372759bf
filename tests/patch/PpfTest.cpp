#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "rom/ByteOrderConversion.h"

#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

QByteArray littleEndian(quint64 value, int size) {
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char(value >> (8 * i));
    return bytes;
}

// A PPF header of `version`; PPF3 with or without block check and undo data.
// The block check is zeros unless given: what a 16-byte image reads as there.
QByteArray ppfHeader(int version, bool blockCheck = false, bool undo = false,
                     const QByteArray &block = QByteArray(1024, '\0'), char imageType = 0,
                     quint64 imageSize = 16) {
    QByteArray header = "PPF" + QByteArray::number(version) + "0" + char(version - 1) +
                        QByteArray("Seed translation").leftJustified(50, ' ');
    if (version == 2)
        header += littleEndian(imageSize, 4) + block;
    if (version == 3) {
        header += QByteArray(1, imageType) + char(blockCheck) + char(undo) + '\0';
        if (blockCheck)
            header += block;
    }
    return header;
}

QByteArray ppfRecord(int version, quint64 offset, const QByteArray &data,
                     const QByteArray &undo = {}) {
    return littleEndian(offset, version == 3 ? 8 : 4) + char(data.size()) + data + undo;
}

QByteArray fileIdDiz(int version, const QByteArray &text) {
    return "@BEGIN_FILE_ID.DIZ" + text + "@END_FILE_ID.DIZ" +
           littleEndian(quint64(text.size()), version == 2 ? 4 : 2);
}

class PpfTest : public ::testing::Test {
  protected:
    ApplyResult apply(const QByteArray &patch) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyPatchFile(job);
    }

    QTemporaryDir dir;
    QByteArray image = QByteArray("0123456789ABCDEF");
    PatchJob job{
        pathOf(dir.filePath("hack.ppf")), pathOf(dir.filePath("game.bin")), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(PpfTest, EveryVersionWritesItsRecordsAndSkipsWhatIsNotForWriting) {
    const struct {
        const char *what;
        QByteArray patch;
        QByteArray result;
    } cases[] = {
        {"PPF1", ppfHeader(1) + ppfRecord(1, 2, "ab") + ppfRecord(1, 18, "END"),
         "01ab456789ABCDEF" + QByteArray(2, '\0') + "END"},
        {"PPF2 with a FILE_ID.DIZ",
         ppfHeader(2) + ppfRecord(2, 4, "cd") + fileIdDiz(2, "Made by us"), "0123cd6789ABCDEF"},
        {"PPF3, undo data skipped",
         ppfHeader(3, false, true) + ppfRecord(3, 0, "xy", "01") + ppfRecord(3, 15, "!", "F"),
         "xy23456789ABCDE!"},
        {"PPF3 with block check and a FILE_ID.DIZ",
         ppfHeader(3, true) + ppfRecord(3, 8, "") + ppfRecord(3, 9, "9") + fileIdDiz(3, "DIZ"),
         image},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(apply(c.patch).outcome, ApplyOutcome::Applied) << c.what;
        EXPECT_EQ(readFile(job.imagePath), c.result) << c.what;
    }
    writeFile(job.patchPath, cases[1].patch);
    EXPECT_EQ(inspectPatchFile(job.patchPath, ReadDepth::Checked).description,
              "Seed translation\nMade by us");
}

TEST_F(PpfTest, ARecordCutShortOrPastTwoGibibytesIsRefusedWhole) {
    const std::pair<const char *, QByteArray> refused[] = {
        {"cut short", ppfHeader(1) + ppfRecord(1, 0, "abc").chopped(1)},
        {"undo data cut short", ppfHeader(3, false, true) + ppfRecord(3, 0, "xy", "0")},
        {"past 2 GiB", ppfHeader(3) + ppfRecord(3, quint64(1) << 32, "x")},
        {"a header cut short", ppfHeader(2).left(500)},
    };
    for (const auto &[what, patch] : refused) {
        EXPECT_NE(apply(patch).outcome, ApplyOutcome::Applied) << what;
        EXPECT_EQ(readFile(job.imagePath), image) << what;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << what;
    }
    // Cut anywhere inside its FILE_ID.DIZ, the text is not read as records
    // (its first bytes make one at about 1.2 GB).
    for (const int version : {2, 3}) {
        const QByteArray records = ppfHeader(version) + ppfRecord(version, 4, "cd");
        const QByteArray trailer =
            fileIdDiz(version, QByteArray("Made by us, for everyone. ").repeated(16));
        for (qsizetype kept = 0; kept < trailer.size(); ++kept) {
            const ApplyOutcome outcome = apply(records + trailer.left(kept)).outcome;
            EXPECT_TRUE(kept == 0 ? outcome == ApplyOutcome::Applied
                                  : outcome == ApplyOutcome::PatchBreaksItsRules)
                << "PPF" << version << " cut after " << kept << " bytes of its trailer";
            EXPECT_LE(QFileInfo(nameText(job.imagePath)).size(), image.size());
            writeFile(job.imagePath, image);
        }
    }
}

TEST_F(PpfTest, TheBlockCheckAndSizeMustDescribeTheImageInItsOwnByteOrder) {
    // A cartridge-order image holding a known block at 0x9320 and another at
    // 0x80A0 (where PPF3 looks for image type 1).
    QByteArray z64 = randomBytes(0xA000, 5);
    z64.replace(0, 4, QByteArray("\x80\x37\x12\x40", 4));
    const QByteArray block = z64.mid(0x9320, 1024);
    const QByteArray giBlock = z64.mid(0x80A0, 1024);
    QByteArray v64 = z64;
    reorderBytes(v64.data(), v64.size(), ByteOrder::Cartridge, ByteOrder::ByteSwapped);
    const QByteArray record = ppfRecord(3, 0x40, "hack");
    const struct {
        const char *what;
        QByteArray image;
        QByteArray patch;
        ApplyOutcome outcome;
    } cases[] = {
        {"PPF3, its block", z64, ppfHeader(3, true, false, block) + record, ApplyOutcome::Applied},
        {"PPF3 type 1, its block", z64, ppfHeader(3, true, false, giBlock, 1) + record,
         ApplyOutcome::Applied},
        {"PPF3, another block", z64, ppfHeader(3, true, false, giBlock) + record,
         ApplyOutcome::WrongImage},
        {"PPF3, the image in another order", v64, ppfHeader(3, true, false, block) + record,
         ApplyOutcome::OtherByteOrder},
        {"PPF2, its block and size", z64,
         ppfHeader(2, false, false, block, 0, 0xA000) + ppfRecord(2, 0x40, "hack"),
         ApplyOutcome::Applied},
        {"PPF2, another size", z64,
         ppfHeader(2, false, false, block, 0, 0xA004) + ppfRecord(2, 0x40, "hack"),
         ApplyOutcome::WrongImage},
    };
    for (const auto &c : cases) {
        image = c.image;
        const ApplyResult result = apply(c.patch);
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        QByteArray expected = c.image;
        if (c.outcome == ApplyOutcome::Applied)
            expected.replace(0x40, 4, "hack");
        EXPECT_EQ(readFile(job.imagePath), expected) << c.what;
        if (c.outcome == ApplyOutcome::OtherByteOrder) {
            EXPECT_EQ(result.readAs, ByteOrder::Cartridge);
        }
    }
    // Told to, it applies all the same.
    job.skipSourceCheck = true;
    image = z64;
    EXPECT_EQ(apply(cases[2].patch).outcome, ApplyOutcome::Applied);
}
