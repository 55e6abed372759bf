#include "patch/bps/Bps.h"
#include "patch/PatchFormat.h"
#include "patch/varint/Varint.h"

#include "TestFiles.h"
#include "files/Backup.h"
#include "rom/ByteOrderConversion.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

// Every action: the header read in place, a literal, a copy that repeats
// what it writes, source copies forwards and backwards, and the rest read.
const std::string kSource = cartridgeImage(4096);
const std::string kTarget = left(kSource, 16) + "HELLO" + "HELLOHELLO" + mid(kSource, 100, 20) +
                            mid(kSource, 50, 8) + mid(kSource, 59);
const std::string kActions = bpsAction(0, 16) + bpsAction(1, 5) + "HELLO" + bpsAction(3, 10) +
                             bpsMove(16) + bpsAction(2, 20) + bpsMove(100) + bpsAction(2, 8) +
                             bpsMove(-70) + bpsAction(0, 4096 - 59);

class BpsTest : public ::testing::Test {
  protected:
    ApplyResult apply(const std::string &patch, const std::string &image) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        return applyBps(job);
    }
    std::vector<std::string> files() const { return fileNames(dir.path()); }

    TempDir dir;
    PatchJob job{dir.filePath("hack.bps"), dir.filePath("game.rom"), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(BpsTest, EveryActionAppliesInEveryByteOrderAndTheResultKeepsTheImagesOrder) {
    const std::string patch = bpsPatch(kSource, kTarget, kActions, "<title>Hack</title>");
    const BpsInspection inspection = inspectBps(fileWith(dir, "hack.bps", patch));
    ASSERT_EQ(inspection.outcome, PatchRead::Readable);
    EXPECT_EQ(inspection.header.metadata, "<title>Hack</title>");
    EXPECT_EQ(inspection.header.targetSize, std::uint64_t(kTarget.size()));
    // Metadata that is not text is shown as its bytes, in hexadecimal.
    const PatchSummary binary = inspectPatchFile(
        fileWith(dir, "binary.bps",
                 bpsPatch(kSource, kTarget, kActions, std::string("\0\xFF\x10", 3))),
        ReadDepth::Whole);
    EXPECT_EQ(binary.description, "00ff10");
    EXPECT_EQ(binary.fields.back().key, "metadataHex");

    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        job.backupPath = tarnic::backupNameOf(job.imagePath);
        const ApplyResult r = apply(patch, inOrder(kSource, order));
        ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(r.readAs, ByteOrder::Cartridge);
        EXPECT_TRUE(readFile(job.imagePath) == inOrder(kTarget, order)) << int(order);
        EXPECT_EQ(readFile(job.backupPath), inOrder(kSource, order));
    }
}

TEST_F(BpsTest, APatchThatBreaksItsRulesIsRefusedWholeAndChangesNothing) {
    const std::string small = "SMALL SOURCE";
    const auto patchFor = [&](const std::string &target, const std::string &actions) {
        return bpsPatch(small, target, actions);
    };
    std::string badCrc = bpsPatch(small, "S", bpsAction(0, 1));
    std::string otherSource = bpsPatch(small, "SM", bpsAction(0, 2));
    otherSource = withBpsPatchCrc(otherSource.replace(otherSource.size() - 12, 4, "\0\0\0\0", 4));
    badCrc[4] = char(0x81); // the source size changed, the patch CRC-32 not
    const std::pair<std::string, ApplyOutcome> refused[] = {
        {badCrc, ApplyOutcome::PatchCorrupted},
        {std::string("BPS1\x80"), ApplyOutcome::PatchTruncated},
        {patchFor("SMALL SOURCE!", bpsAction(0, 13)),
         ApplyOutcome::PatchBreaksItsRules},                                          // past source
        {patchFor("AB", bpsAction(1, 3) + "ABC"), ApplyOutcome::PatchBreaksItsRules}, // past target
        {patchFor("AB", bpsAction(1, 2) + "A"), ApplyOutcome::PatchBreaksItsRules}, // into the CRCs
        {patchFor("MA", bpsAction(2, 2) + bpsMove(-1)), ApplyOutcome::PatchBreaksItsRules},
        {patchFor("CE", bpsAction(2, 2) + bpsMove(11)), ApplyOutcome::PatchBreaksItsRules},
        {patchFor("SS", bpsAction(3, 2) + bpsMove(0)), ApplyOutcome::PatchBreaksItsRules},
        {patchFor("SMSM", bpsAction(0, 2) + bpsAction(3, 2) + bpsMove(2)),
         ApplyOutcome::PatchBreaksItsRules}, // a copy that starts where nothing is written yet
        {patchFor("SMA", bpsAction(0, 2)), ApplyOutcome::PatchBreaksItsRules}, // ends short
        {otherSource, ApplyOutcome::WrongImage}, // the source's CRC-32 is another's
        {bpsPatch("ANOTHER", "SMALL SOURCE", bpsAction(1, 12) + "SMALL SOURCE"),
         ApplyOutcome::AlreadyPatched},
    };
    for (const auto &[patch, outcome] : refused) {
        job.backupPath = tarnic::backupNameOf(job.imagePath);
        EXPECT_EQ(apply(patch, small).outcome, outcome) << toHex(patch);
        EXPECT_EQ(readFile(job.imagePath), small);
        EXPECT_EQ(files(), (std::vector<std::string>{"game.rom", "hack.bps"}));
    }
}

TEST_F(BpsTest, ForcedOntoAnotherImageTheResultsCrcStillDecides) {
    const std::string patch = bpsPatch(kSource, kTarget, kActions);
    std::string other = kSource;
    other[2000] = 'x'; // a byte the result reads
    EXPECT_EQ(apply(patch, other).outcome, ApplyOutcome::WrongImage);
    job.skipSourceCheck = true;
    EXPECT_EQ(apply(patch, other).outcome, ApplyOutcome::ResultMismatch);
    EXPECT_EQ(readFile(job.imagePath), other);
    other = kSource;
    other[30] = 'x'; // a byte the result does not read
    const ApplyResult r = apply(patch, other);
    EXPECT_EQ(r.outcome, ApplyOutcome::Applied);
    EXPECT_EQ(readFile(job.imagePath), kTarget);
}

TEST_F(BpsTest, ALargeImageIsSummedInStretchesAndStillFoundInItsOtherOrder) {
    // Large enough to be summed in stretches on both cores, the last one short.
    const std::string source = cartridgeImage((9 << 20) + 12);
    std::string target = source;
    target.replace(5 << 20, 4, "HALF");
    const std::string patch = bpsPatch(source, target,
                                       bpsAction(0, 5 << 20) + bpsAction(1, 4) + "HALF" +
                                           bpsAction(2, (4 << 20) + 8) + bpsMove((5 << 20) + 4));
    EXPECT_EQ(apply(patch, byteSwapped(source)).outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(readFile(job.imagePath) == byteSwapped(target));
}

// A TargetCopy that reads back what went to the file a piece earlier, from an
// odd offset across the piece's edge, and one that repeats what it writes,
// into a v64 and an n64 dump: the bytes read back are put in the patch's
// order first.
TEST_F(BpsTest, ATargetCopyReadsBackWrittenPiecesInThePatchsOrder) {
    const std::string source = cartridgeImage(2 << 20);
    const std::int64_t half = 3 << 19; // 1.5 MiB: one piece written, half of one held
    const std::int64_t from = (1 << 20) - 3;
    std::string target = left(source, half);
    target += target.substr(size_t(from), 200000);
    const std::string tail = right(target, 5);
    target += tail + tail + left(tail, 2);
    const std::string patch = bpsPatch(source, target,
                                       bpsAction(0, half) + bpsAction(3, 200000) + bpsMove(from) +
                                           bpsAction(3, 12) + bpsMove(half - 5 - from));
    for (const ByteOrder order : {ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        ASSERT_EQ(apply(patch, inOrder(source, order)).outcome, ApplyOutcome::Applied)
            << int(order);
        EXPECT_TRUE(readFile(job.imagePath) == inOrder(target, order)) << int(order);
    }
}

// A patch made for the n64 dump of an image applies to the z64 and v64 dumps
// of it: the image is read in the patch's order, the result kept in its own.
TEST_F(BpsTest, APatchMadeForTheN64DumpAppliesToTheImageInAnyOrder) {
    const std::string n64Source = wordsReversed(kSource);
    const std::string n64Target = wordsReversed(kTarget);
    const std::string patch =
        bpsPatch(n64Source, n64Target, bpsAction(1, n64Target.size()) + n64Target);
    for (const ByteOrder order : {ByteOrder::Cartridge, ByteOrder::ByteSwapped}) {
        const ApplyResult r = apply(patch, inOrder(kSource, order));
        ASSERT_EQ(r.outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(r.readAs, ByteOrder::LittleEndian);
        EXPECT_TRUE(readFile(job.imagePath) == inOrder(kTarget, order)) << int(order);
    }
}

TEST_F(BpsTest, ImagesOfNoWholeNumberOfWordsAreTheSourceInEveryOrder) {
    // 4 * 1023 + 2 bytes in, 4 * 1024 + 1 out: the v64 dump exchanges the
    // last pair too, the n64 dump keeps the tail as z64 has it.
    const std::string source = cartridgeImage(4094);
    const std::string target = source + "XYZ";
    const std::string patch =
        bpsPatch(source, target, bpsAction(0, 4094) + bpsAction(1, 3) + "XYZ");
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        const ApplyResult r = apply(patch, inOrder(source, order));
        EXPECT_EQ(r.outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(r.readAs, ByteOrder::Cartridge) << int(order);
        EXPECT_EQ(readFile(job.imagePath), inOrder(target, order)) << int(order);
    }
}

TEST(BpsNumbers, AreReadAsTheFormatDefinesThem) {
    // Worked out from the definition: seven bits a byte, least significant
    // first, the last byte marked by its top bit, and each further byte
    // counting from one more than the byte before could reach.
    const std::pair<std::uint64_t, const char *> vectors[] = {
        {0, "80"},         {1, "81"},
        {127, "ff"},       {128, "0080"},
        {300, "2c81"},     {16511, "7fff"},
        {16512, "000080"}, {~std::uint64_t(0), "7f7e7e7e7e7e7e7e7e80"}, // the largest there is
    };
    for (const auto &[value, hex] : vectors) {
        EXPECT_EQ(toHex(bpsNumber(value)), hex) << value;
        const std::string bytes = fromHex(hex);
        std::ptrdiff_t at = 0;
        const auto next = [&]() -> std::optional<std::uint8_t> {
            if (size_t(at) == bytes.size())
                return std::nullopt;
            return std::uint8_t(bytes[at++]);
        };
        EXPECT_EQ(readVarint(next), std::optional<std::uint64_t>(value)) << hex;
        EXPECT_EQ(at, bytes.size()) << hex;
    }
}
