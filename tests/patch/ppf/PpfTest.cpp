#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "rom/ByteOrderConversion.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

std::string littleEndian(std::uint64_t value, int size) {
    std::string bytes;
    for (int i = 0; i < size; ++i)
        bytes += char(value >> (8 * i));
    return bytes;
}

// A PPF header of `version`; PPF3 with or without block check and undo data.
// The block check is zeros unless given: what a 16-byte image reads as there.
std::string ppfHeader(int version, bool blockCheck = false, bool undo = false,
                      const std::string &block = std::string(1024, '\0'), char imageType = 0,
                      std::uint64_t imageSize = 16) {
    std::string header = "PPF" + std::to_string(version) + "0" + char(version - 1) +
                         padded(std::string("Seed translation"), 50);
    if (version == 2)
        header += littleEndian(imageSize, 4) + block;
    if (version == 3) {
        header += std::string(1, imageType) + char(blockCheck) + char(undo) + '\0';
        if (blockCheck)
            header += block;
    }
    return header;
}

std::string ppfRecord(int version, std::uint64_t offset, const std::string &data,
                      const std::string &undo = {}) {
    return littleEndian(offset, version == 3 ? 8 : 4) + char(data.size()) + data + undo;
}

// Its length in four bytes in PPF2 and in two in PPF3, or in `lengthSize`.
std::string fileIdDiz(int version, const std::string &text, int lengthSize = 0) {
    return "@BEGIN_FILE_ID.DIZ" + text + "@END_FILE_ID.DIZ" +
           littleEndian(std::uint64_t(text.size()), lengthSize     ? lengthSize
                                                    : version == 2 ? 4
                                                                   : 2);
}

class PpfTest : public ::testing::Test {
  protected:
    ApplyResult apply(const std::string &patch) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyPatchFile(job);
    }

    TempDir dir;
    std::string image = std::string("0123456789ABCDEF");
    PatchJob job{dir.filePath("hack.ppf"), dir.filePath("game.bin"), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(PpfTest, EveryVersionWritesItsRecordsAndSkipsWhatIsNotForWriting) {
    const struct {
        const char *what;
        std::string patch;
        std::string result;
    } cases[] = {
        {"PPF1", ppfHeader(1) + ppfRecord(1, 2, "ab") + ppfRecord(1, 18, "END"),
         "01ab456789ABCDEF" + std::string(2, '\0') + "END"},
        {"PPF2 with a FILE_ID.DIZ",
         ppfHeader(2) + ppfRecord(2, 4, "cd") + fileIdDiz(2, "Made by us"), "0123cd6789ABCDEF"},
        {"PPF3, undo data skipped",
         ppfHeader(3, false, true) + ppfRecord(3, 0, "xy", "01") + ppfRecord(3, 15, "!", "F"),
         "xy23456789ABCDE!"},
        {"PPF3 with block check and a FILE_ID.DIZ",
         ppfHeader(3, true) + ppfRecord(3, 8, "") + ppfRecord(3, 9, "9") + fileIdDiz(3, "DIZ"),
         image},
        // As some other writers write the text's length.
        {"PPF3 with the FILE_ID.DIZ's length in four bytes",
         ppfHeader(3) + ppfRecord(3, 1, "z") + fileIdDiz(3, "Made by us", 4), "0z23456789ABCDEF"},
        {"PPF2 with the FILE_ID.DIZ's length in two bytes",
         ppfHeader(2) + ppfRecord(2, 2, "y") + fileIdDiz(2, "Made by us", 2), "01y3456789ABCDEF"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(apply(c.patch).outcome, ApplyOutcome::Applied) << c.what;
        EXPECT_EQ(readFile(job.imagePath), c.result) << c.what;
    }
    for (const int shown : {1, 4, 5}) {
        writeFile(job.patchPath, cases[shown].patch);
        EXPECT_EQ(inspectPatchFile(job.patchPath, ReadDepth::Checked).description,
                  "Seed translation\nMade by us")
            << cases[shown].what;
    }
    // A FILE_ID.DIZ holds at most 3072 characters: a longer one is shown cut
    // there, and the records before it are all there is.
    const std::string longText = repeated("0123456789", 400);
    EXPECT_EQ(apply(ppfHeader(3) + ppfRecord(3, 3, "L") + fileIdDiz(3, longText)).outcome,
              ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), "012L456789ABCDEF");
    EXPECT_EQ(inspectPatchFile(job.patchPath, ReadDepth::Checked).description,
              "Seed translation\n" + left(longText, 3072));
}

TEST_F(PpfTest, ARecordCutShortOrPastTwoGibibytesIsRefusedWhole) {
    const std::pair<const char *, std::string> refused[] = {
        {"cut short", ppfHeader(1) + chopped(ppfRecord(1, 0, "abc"), 1)},
        {"undo data cut short", ppfHeader(3, false, true) + ppfRecord(3, 0, "xy", "0")},
        {"past 2 GiB", ppfHeader(3) + ppfRecord(3, std::uint64_t(1) << 32, "x")},
        {"a header cut short", left(ppfHeader(2), 500)},
    };
    for (const auto &[what, patch] : refused) {
        EXPECT_NE(apply(patch).outcome, ApplyOutcome::Applied) << what;
        EXPECT_EQ(readFile(job.imagePath), image) << what;
        EXPECT_EQ(fileNames(dir.path()).size(), 2) << what;
    }
    // Cut anywhere inside its FILE_ID.DIZ, the text is not read as records
    // (its first bytes make one at about 1.2 GB). A PPF2 cut just inside its
    // four-byte length is whole with a two-byte one, as some writers write it.
    for (const int version : {2, 3}) {
        const std::string records = ppfHeader(version) + ppfRecord(version, 4, "cd");
        const std::string trailer = fileIdDiz(version, repeated("Made by us, for everyone. ", 16));
        for (size_t kept = 0; kept < trailer.size(); ++kept) {
            const ApplyOutcome outcome = apply(records + left(trailer, kept)).outcome;
            const bool whole = kept == 0 || (version == 2 && kept == trailer.size() - 2);
            EXPECT_EQ(outcome, whole ? ApplyOutcome::Applied : ApplyOutcome::PatchBreaksItsRules)
                << "PPF" << version << " cut after " << kept << " bytes of its trailer";
            EXPECT_EQ(readFile(job.imagePath), whole ? "0123cd6789ABCDEF" : image);
            writeFile(job.imagePath, image);
        }
    }
}

TEST_F(PpfTest, TheBlockCheckAndSizeMustDescribeTheImageInItsOwnByteOrder) {
    // A cartridge-order image holding a known block at 0x9320 and another at
    // 0x80A0 (where PPF3 looks for image type 1).
    std::string z64 = randomBytes(0xA000, 5);
    z64.replace(0, 4, std::string("\x80\x37\x12\x40", 4));
    const std::string block = mid(z64, 0x9320, 1024);
    const std::string giBlock = mid(z64, 0x80A0, 1024);
    const std::string isoBlock = mid(z64, 0x8000, 1024);
    std::string v64 = z64;
    reorderBytes(v64.data(), v64.size(), ByteOrder::Cartridge, ByteOrder::ByteSwapped);
    const std::string record = ppfRecord(3, 0x40, "hack");
    const struct {
        const char *what;
        std::string image;
        std::string patch;
        ApplyOutcome outcome;
    } cases[] = {
        {"PPF3, its block", z64, ppfHeader(3, true, false, block) + record, ApplyOutcome::Applied},
        {"PPF3 type 1, its block", z64, ppfHeader(3, true, false, giBlock, 1) + record,
         ApplyOutcome::Applied},
        {"PPF3 type 2, its block", z64, ppfHeader(3, true, false, isoBlock, 2) + record,
         ApplyOutcome::Applied},
        {"PPF3 type 2, type 0's block", z64, ppfHeader(3, true, false, block, 2) + record,
         ApplyOutcome::WrongImage},
        {"PPF3, another block", z64, ppfHeader(3, true, false, giBlock) + record,
         ApplyOutcome::WrongImage},
        {"PPF3, the image in another order", v64, ppfHeader(3, true, false, block) + record,
         ApplyOutcome::OtherByteOrder},
        {"PPF2, its block and size", z64,
         ppfHeader(2, false, false, block, 0, 0xA000) + ppfRecord(2, 0x40, "hack"),
         ApplyOutcome::Applied},
        {"PPF2, a larger size", z64,
         ppfHeader(2, false, false, block, 0, 0xA004) + ppfRecord(2, 0x40, "hack"),
         ApplyOutcome::WrongImage},
        {"PPF2, a smaller size", z64,
         ppfHeader(2, false, false, block, 0, 0x9FFC) + ppfRecord(2, 0x40, "hack"),
         ApplyOutcome::WrongImage},
    };
    for (const auto &c : cases) {
        image = c.image;
        const ApplyResult result = apply(c.patch);
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        std::string expected = c.image;
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
