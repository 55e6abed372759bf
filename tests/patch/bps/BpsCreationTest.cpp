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
