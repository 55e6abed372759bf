#include "patch/PatchCreation.h"

#include "TestFiles.h"
#include "patch/bps/Bps.h"

#include <gtest/gtest.h>

#include <random>

using namespace tarnic;
using namespace testfiles;

namespace {} // namespace

TEST(BpsCreation, RoundTripsAndAMovedOrInsertedBlockCostsLittle) {
    TempDir dir;
    CreateJob job{dir.filePath("a.z64"), dir.filePath("b.z64"), dir.filePath("p.bps"),
                  "Tarnic test"};
    const std::string base = cartridgeImage(4096) + randomBytes(1 << 20, 1);
    using Change = std::function<void(std::string &)>;
    const struct {
        const char *what;
        Change change;
        std::int64_t atMost; // patch bytes
    } cases[] = {
        {"nothing", [](std::string &) {}, 60},
        {"scattered bytes",
         [](std::string &m) {
             for (int i = 1; i < 100; ++i)
                 m[i * 9000] = char(~m[i * 9000]);
         },
         60 + 99 * 6},
        {"a 64 KiB block moved",
         [&](std::string &m) { m.replace(0x40000, 0x10000, mid(base, 0x90000, 0x10000)); }, 80},
        {"1000 bytes inserted", [](std::string &m) { m.insert(5000, randomBytes(1000, 2)); }, 1100},
        {"cut short", [](std::string &m) { m.resize(m.size() - 300000); }, 60},
        {"grown by a run", [](std::string &m) { m += std::string(50000, '\xFF'); }, 80},
        {"runs of one byte again and again, each a copy of the first",
         [](std::string &m) {
             for (int i = 1; i <= 50; ++i)
                 m.replace(i * 20000, 100, std::string(100, '\x55'));
         },
         60 + 8 + 50 * 7},
        {"a few words, each found once far away in the original",
         [&](std::string &m) {
             for (int i = 1; i <= 50; ++i)
                 m.replace(i * 19000, 16, mid(base, 0x80000 + i * 6007, 16));
         },
         60 + 50 * 7},
        {"a region rebuilt of pieces from all over the original, between new bytes",
         [&](std::string &m) {
             for (int i = 0; i < 8000; ++i)
                 m.replace(0x20000 + i * 24, 24,
                           mid(base, 0x1000 + i * 7919 % 0xF0000, 16) + randomBytes(8, i));
         },
         60 + 8000 * 13},
        {"emptied", [](std::string &m) { m.clear(); }, 60},
        {"only the last three bytes", [](std::string &m) { m.replace(m.size() - 3, 3, "END"); },
         60 + 3},
    };
    for (const auto &c : cases) {
        std::string modified = base;
        c.change(modified);
        writeFile(job.originalPath, base);
        writeFile(job.modifiedPath, modified);
        const CreateResult created = createBpsPatch(job);
        ASSERT_EQ(created.outcome, CreateOutcome::Created) << c.what;
        EXPECT_LE(created.patchSize, c.atMost) << c.what;
        EXPECT_EQ(inspectBps(job.patchPath).header.metadata, "Tarnic test");
        const std::string copy = fileWith(dir, "copy.z64", base);
        EXPECT_EQ(applyBps({job.patchPath, copy, {}, {}, {}, {}, false}).outcome,
                  ApplyOutcome::Applied)
            << c.what;
        EXPECT_TRUE(readFile(copy) == modified) << c.what;
    }
}

// Text whose strings each moved by a byte or two, as a translation moves
// them: short copies from near where the source goes on, not the whole text
// read from the patch.
TEST(BpsCreation, StringsShiftedByAByteOrTwoAreCopiedFromNearby) {
    TempDir dir;
    CreateJob job{dir.filePath("a.z64"), dir.filePath("b.z64"), dir.filePath("p.bps"), {}};
    std::string text;
    for (int i = 0; text.size() < 0x10000; ++i)
        text += "Item " + std::to_string(i * 7919 % 100003) + " of the shop, " +
                std::to_string(i % 97) + " gold\n";
    std::string shifted;
    for (size_t at = 0; at < text.size(); at += 40)
        shifted += text.substr(at, 40) + std::string(at / 40 % 3, '~');
    const std::string original = cartridgeImage(4096) + text;
    const std::string modified = cartridgeImage(4096) + shifted;
    writeFile(job.originalPath, original);
    writeFile(job.modifiedPath, modified);
    const CreateResult created = createBpsPatch(job);
    ASSERT_EQ(created.outcome, CreateOutcome::Created);
    EXPECT_LT(created.patchSize, std::int64_t(text.size() / 40 * 6)); // the text is 40 * that
    const std::string copy = fileWith(dir, "copy.z64", original);
    ASSERT_EQ(applyBps({job.patchPath, copy, {}, {}, {}, {}, false}).outcome,
              ApplyOutcome::Applied);
    EXPECT_TRUE(readFile(copy) == modified);
}
