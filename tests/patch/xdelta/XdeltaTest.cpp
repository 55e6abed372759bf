// xdelta patches made by Debian's xdelta3 (every secondary compression, many
// small windows, small source windows, images that grow and shrink), applied
// to the image in every byte order and compared byte for byte.
#include "patch/PatchCreation.h"
#include "patch/PatchFormat.h"
#include "patch/xdelta/Vcdiff.h"
#include "rom/ByteOrderConversion.h"
#include "texts/Messages.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tarnic;
using namespace testfiles;

namespace {

// New text of its own kind in each stretch: what secondary compression with
// several code tables is for.
std::string newText(std::size_t size) {
    const std::string bytes = randomBytes(size, 11);
    std::string text;
    for (std::size_t i = 0; i < size; ++i)
        text += (i / 4096) % 2 ? char('0' + std::uint8_t(bytes[i]) % 10)
                               : char('a' + std::uint8_t(bytes[i]) % 26);
    return text;
}

// A translation's kind of change: short strings rewritten all over, some
// shifted by a byte, new text and bytes of every value inserted, and the end
// cut or grown.
std::string translated(const std::string &image, std::size_t newSize) {
    std::string result = image;
    for (std::size_t at = 5000, n = 0; at + 40 < result.size(); at += 7919, ++n)
        result.replace(at, 24, "Line " + std::to_string(n) + " translated, ok");
    result.insert(result.size() / 8, newText(40000) + randomBytes(3000, 9));
    result.resize(newSize, '\0');
    return result;
}

class XdeltaTest : public ::testing::Test {
  protected:
    // Makes a patch with xdelta3 and `options` from `from` to `to`.
    std::string xdelta3(const std::string &options, const std::string &from,
                        const std::string &to) {
        writeFile(dir.filePath("from"), from);
        writeFile(dir.filePath("to"), to);
        const std::string command =
            "xdelta3 -e -f " + options + " -s '" + dir.filePath("from").string() + "' '" +
            dir.filePath("to").string() + "' '" + dir.filePath("made.xdelta").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command << " (is xdelta3 installed?)";
        return readFile(dir.filePath("made.xdelta"));
    }

    ApplyResult apply(const std::string &patch, const std::string &image, bool force = false) {
        writeFile(job.patchPath, patch);
        writeFile(job.imagePath, image);
        job.skipSourceCheck = force;
        return applyPatchFile(job);
    }

    TempDir dir;
    PatchJob job{dir.filePath("hack.xdelta"), dir.filePath("game.rom"), {}, {}, {}, {}, false};
};

} // namespace

TEST_F(XdeltaTest, EveryPatchXdelta3WritesGivesTheResultInTheImagesOwnByteOrder) {
    const std::string image = cartridgeImage(1200 * 1024 + 6) + randomBytes(200 * 1024, 7);
    const struct {
        const char *options;
        std::size_t resultSize;
    } cases[] = {
        {"-S none", 1500 * 1024 + 2},
        {"-S lzma", 1000 * 1024},
        {"-S djw", 1500 * 1024 + 2},
        {"-S djw9", 1000 * 1024}, // several code tables
        {"-S fgk", 1500 * 1024 + 2},
        // Many windows, each compressed section going on from the last one's.
        {"-S none -W 16384", 1000 * 1024},
        {"-S lzma -W 16384", 1500 * 1024 + 2},
        {"-S djw9 -W 65536", 1500 * 1024 + 2},
        // A small source window: segments all over the image.
        {"-S lzma -B 524288 -W 65536", 1500 * 1024 + 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        const std::string result = translated(image, c.resultSize);
        const std::string patch = xdelta3(c.options, image, result);
        for (const ByteOrder order :
             {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
            SCOPED_TRACE(int(order));
            const ApplyResult applied = apply(patch, inOrder(image, order), true);
            EXPECT_EQ(applied.outcome, ApplyOutcome::Applied) << text::reasonFor(applied).line();
            EXPECT_TRUE(readFile(job.imagePath) == inOrder(result, order));
        }
    }
    // Without checksums nothing tells the byte order: the patch writes the
    // bytes as it stands, as xdelta3 does.
    const std::string result = translated(image, 1000 * 1024);
    const ApplyResult unchecked = apply(xdelta3("-n -S none", image, result), image);
    EXPECT_EQ(unchecked.outcome, ApplyOutcome::Applied);
    EXPECT_TRUE(readFile(job.imagePath) == result);
}

TEST_F(XdeltaTest, TheFirstWindowThatReadsTheImageTellsItsOrderOrRefusesIt) {
    const std::string image = cartridgeImage(300 * 1024);
    const std::string result = translated(image, 320 * 1024);
    // Made for the byte-swapped dump; applied to the dump in each order.
    const std::string patch = xdelta3("-S djw", byteSwapped(image), byteSwapped(result));
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        const ApplyResult applied = apply(patch, inOrder(image, order));
        ASSERT_EQ(applied.outcome, ApplyOutcome::Applied) << int(order);
        EXPECT_EQ(applied.readAs, ByteOrder::ByteSwapped);
        EXPECT_TRUE(readFile(job.imagePath) == inOrder(result, order));
        EXPECT_EQ(xdeltaSourceOrder(job.patchPath, job.imagePath), std::nullopt);
    }
    EXPECT_EQ(apply(patch, wordsReversed(result)).outcome, ApplyOutcome::AlreadyPatched);
    std::string other = image;
    other[200] ^= 1;
    EXPECT_EQ(apply(patch, other).outcome, ApplyOutcome::WrongImage);
    EXPECT_TRUE(readFile(job.imagePath) == other);
    EXPECT_EQ(apply(patch, left(image, 1000)).outcome, ApplyOutcome::WrongImage);
    // Forced, the windows' checksums still decide.
    const ApplyResult forced = apply(patch, other, true);
    EXPECT_EQ(forced.outcome, ApplyOutcome::ResultMismatch);
    EXPECT_EQ(forced.fault, PatchFault::WindowChecksumWrong);
    EXPECT_TRUE(readFile(job.imagePath) == other);
    writeFile(job.imagePath, wordsReversed(image));
    EXPECT_EQ(xdeltaSourceOrder(job.patchPath, job.imagePath), ByteOrder::ByteSwapped);
}

TEST_F(XdeltaTest, ItsSummaryShowsTheNamesItCarriesAndItsCompression) {
    const std::string image = cartridgeImage(64 * 1024);
    const std::string result = translated(image, 64 * 1024);
    xdelta3("-S lzma", image, result);
    const PatchSummary made = inspectPatchFile(dir.filePath("made.xdelta"), ReadDepth::Checked);
    ASSERT_TRUE(made.readable());
    EXPECT_EQ(made.checks, PatchChecks::ResultChecksums);
    EXPECT_EQ(made.description, "to (from from)");
    std::string lines;
    for (const SummaryLine &line : made.lines)
        lines += line.caption + ": " + line.value + "\n";
    EXPECT_EQ(lines, "Target file: to\nSource file: from\nSecondary compression: LZMA\n"
                     "Window checksums: Adler-32\nWindows: 1\nTarget: 65536 bytes\n");
}

TEST_F(XdeltaTest, ACreatedPatchIsWhatXdelta3MakesOfItAndNoLargerThanItsOwnByATenth) {
    // Over 8 MiB, so in two windows; 64 KiB blocks moved about, some of them
    // met twice, so that the second window copies what the first one made.
    const std::string image = cartridgeImage(64 * 1024) + randomBytes(9 * 1024 * 1024, 5);
    std::string modified = translated(image, image.size() + 4321);
    for (std::size_t block = 0; block < 40; ++block)
        modified.replace((block * 37 % 140) * 65536, 65536, mid(image, block * 65536, 65536));
    // Runs of one byte all over, which the second window cannot copy from
    // the first.
    for (std::size_t at = 30000; at + 200 < modified.size(); at += 9973)
        modified.replace(at, 100 + at % 97, std::string(100 + at % 97, 'U'));
    writeFile(dir.filePath("from"), image);
    writeFile(dir.filePath("to"), modified);
    const CreateJob job{dir.filePath("from"), dir.filePath("to"), dir.filePath("ours.xdelta"), ""};
    ASSERT_EQ(createXdeltaPatch(job).outcome, CreateOutcome::Created);
    const std::string command = "xdelta3 -d -f -s '" + job.originalPath.string() + "' '" +
                                job.patchPath.string() + "' '" + dir.filePath("out").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(readFile(dir.filePath("out")) == modified);
    const std::string ours = readFile(job.patchPath);
    const std::string theirs = xdelta3("-S none", image, modified);
    EXPECT_LE(ours.size() * 10, theirs.size() * 11) << ours.size() << " vs " << theirs.size();

    // An image shortened to nothing.
    writeFile(dir.filePath("to"), "");
    ASSERT_EQ(createXdeltaPatch(job).outcome, CreateOutcome::Created);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(readFile(dir.filePath("out")), "");
}
