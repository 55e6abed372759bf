#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"

#include "TestFiles.h"

#include <QDir>
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
QByteArray ppfHeader(int version, bool blockCheck = false, bool undo = false) {
    QByteArray header = "PPF" + QByteArray::number(version) + "0" + char(version - 1) +
                        QByteArray("Seed translation").leftJustified(50, ' ');
    if (version == 2)
        header += littleEndian(16, 4) + QByteArray(1024, 'B');
    if (version == 3) {
        header += QByteArray(1, 0) + char(blockCheck) + char(undo) + '\0';
        if (blockCheck)
            header += QByteArray(1024, 'B');
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
    PatchJob job{dir.filePath("hack.ppf"), dir.filePath("game.bin"), {}, {}, {}, {}, false};
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
    EXPECT_EQ(patchDescription(job.patchPath, PatchFormat::Ppf), "Seed translation\nMade by us");
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
}
