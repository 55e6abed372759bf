#include "patch/PatchCreation.h"

#include "TestFiles.h"
#include "patch/bps/Bps.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace tarnic;
using namespace testfiles;

namespace {} // namespace

TEST(BpsCreation, RoundTripsAndAMovedOrInsertedBlockCostsLittle) {
    QTemporaryDir dir;
    CreateJob job{pathOf(dir.filePath("a.z64")), pathOf(dir.filePath("b.z64")),
                  pathOf(dir.filePath("p.bps")), QStringLiteral("Tarnic test")};
    const QByteArray base = cartridgeImage(4096) + randomBytes(1 << 20, 1);
    using Change = std::function<void(QByteArray &)>;
    const struct {
        const char *what;
        Change change;
        qint64 atMost; // patch bytes
    } cases[] = {
        {"nothing", [](QByteArray &) {}, 60},
        {"scattered bytes",
         [](QByteArray &m) {
             for (int i = 1; i < 100; ++i)
                 m[i * 9000] = char(~m[i * 9000]);
         },
         60 + 99 * 6},
        {"a 64 KiB block moved",
         [&](QByteArray &m) { m.replace(0x40000, 0x10000, base.mid(0x90000, 0x10000)); }, 80},
        {"1000 bytes inserted", [](QByteArray &m) { m.insert(5000, randomBytes(1000, 2)); }, 1100},
        {"cut short", [](QByteArray &m) { m.chop(300000); }, 60},
        {"grown by a run", [](QByteArray &m) { m += QByteArray(50000, '\xFF'); }, 80},
        {"runs of one byte again and again, each a copy of the first",
         [](QByteArray &m) {
             for (int i = 1; i <= 50; ++i)
                 m.replace(i * 20000, 100, QByteArray(100, '\x55'));
         },
         60 + 8 + 50 * 7},
        {"emptied", [](QByteArray &m) { m.clear(); }, 60},
    };
    for (const auto &c : cases) {
        QByteArray modified = base;
        c.change(modified);
        writeFile(job.originalPath, base);
        writeFile(job.modifiedPath, modified);
        const CreateResult created = createBpsPatch(job);
        ASSERT_EQ(created.outcome, CreateOutcome::Created) << c.what;
        EXPECT_LE(created.patchSize, c.atMost) << c.what;
        EXPECT_EQ(inspectBps(job.patchPath).header.metadata, "Tarnic test");
        const QString copy = fileWith(dir, "copy.z64", base);
        EXPECT_EQ(applyBps({job.patchPath, pathOf(copy), {}, {}, {}, {}, false}).outcome,
                  ApplyOutcome::Applied)
            << c.what;
        EXPECT_TRUE(readFile(copy) == modified) << c.what;
    }
}
