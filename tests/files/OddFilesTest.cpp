// Files that are not plain files, and patches far larger than any real one.

#include "ChildProcess.h"
#include "QtTestFiles.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "patch/aps/ApsInspection.h"
#include "patch/bps/Bps.h"
#include "rom/ByteOrderConversion.h"
#include "rom/ImageHeader.h"
#include "startup/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnic;
using namespace testfiles;

TEST(OddFiles, AFifoFolderSocketOrDeviceIsRefusedAtOnceDirectlyOrThroughALink) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo.aps");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = dir.filePath("folder.aps");
    QDir(dir.path()).mkdir("folder.aps");
    const QString socketPath = dir.filePath("socket.aps");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  QFile::encodeName(socketPath).constData());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QString link = dir.filePath("link.aps");
    QFile::link(fifo, link);
    const QString image = fileWith(dir, "game.z64", cartridgeImage());
    writeFile(dir.filePath("fix.aps"), apsHeader() + copyRecord(0, "X"));

    alarm(20); // a blocking open would hang here for ever
    for (const QString &odd : {fifo, folder, socketPath, link, QStringLiteral("/dev/zero")}) {
        const std::string name = odd.toStdString();
        EXPECT_EQ(inspectApsPatch(pathOf(odd)).outcome, InspectionOutcome::CannotOpen) << name;
        EXPECT_EQ(inspectImage(pathOf(odd)).outcome, ImageReadOutcome::CannotOpen) << name;
        EXPECT_EQ(swapByteOrder(pathOf(odd)).outcome, ConversionOutcome::Missing) << name;
        Settings settings;
        EXPECT_EQ(readSettingsFile(odd, settings), 0) << name;

        PatchJob asPatch{pathOf(odd), pathOf(image), {}, {}, {}, {}};
        EXPECT_EQ(applyApsPatch(asPatch).outcome, ApplyOutcome::PatchUnreadable) << name;
        PatchJob asImage{pathOf(dir.filePath("fix.aps")), pathOf(odd), {}, {}, {}, {}};
        EXPECT_EQ(applyApsPatch(asImage).outcome, ApplyOutcome::DestinationUnwritable) << name;
    }
    alarm(0);
    ::close(s);
    EXPECT_EQ(readFile(image), cartridgeImage());
}

TEST(OddFiles, AHugePatchIsRefusedAtItsFirstFaultWithLittleMemory) {
    QTemporaryDir dir;
    const QString image = fileWith(dir, "game.z64", cartridgeImage());
    const QString patch = dir.filePath("huge.aps");
    struct Case {
        std::string start;
        qint64 size; // the rest zeros, not stored
        ApplyOutcome outcome;
    };
    const qint64 threeGigabytes = 3LL << 30;
    const qint64 quarterGigabyte = 256LL << 20;
    const Case cases[] = {
        {std::string("NOT AN APS FILE"), threeGigabytes, ApplyOutcome::NotAnApsFile},
        {apsHeader() + copyRecord(0, "fine") + copyRecord(-5, "outside"), threeGigabytes,
         ApplyOutcome::InvalidPatch},
        // Metadata of nearly all of it, only the start of which is read; the
        // patch's own CRC-32 is wrong.
        {"BPS1" + bpsNumber(4) + bpsNumber(4) + bpsNumber(quint64(quarterGigabyte - 100)),
         quarterGigabyte, ApplyOutcome::PatchCorrupted},
    };
    for (const Case &c : cases) {
        writeFile(patch, c.start);
        ASSERT_EQ(::truncate(QFile::encodeName(patch).constData(), c.size), 0);
        const childprocess::Ended ended = childprocess::run([&] {
            return int(applyPatchFile({pathOf(patch), pathOf(image), {}, {}, {}, {}}).outcome);
        });
        std::printf("peak memory for a %lld MiB patch refused at its first fault: %ld MiB\n",
                    c.size >> 20, ended.peakKiB / 1024);
        EXPECT_EQ(ended.exitCode, int(c.outcome));
        EXPECT_LT(ended.peakKiB / 1024, 64);
    }
    EXPECT_EQ(readFile(image), cartridgeImage());
}

TEST(OddFiles, ALongActionOnALargeImageIsAppliedWithLittleMemory) {
    // One byte changed at the end of an 80 MiB image: a BPS patch that reads
    // almost all of it from the source in one action, and a UPS patch that
    // skips almost all of it in one hunk.
    QTemporaryDir dir;
    const qint64 size = 80LL << 20;
    std::string image(size, '\0');
    image.replace(0, 4, fromHex("80371240"));
    std::string changed = image;
    changed[size - 1] = '!';
    const QString imagePath = fileWith(dir, "big.z64", image);
    const QString bps =
        fileWith(dir, "one.bps",
                 bpsPatch(image, changed, bpsAction(0, quint64(size - 1)) + bpsAction(1, 1) + "!"));
    const QString ups = fileWith(
        dir, "one.ups", upsPatch(image, changed, bpsNumber(quint64(size - 1)) + "!" + '\0'));
    for (const QString &patch : {bps, ups}) {
        const QString output = dir.filePath("out.z64");
        const childprocess::Ended ended = childprocess::run([&] {
            return int(applyPatchFile(
                           {pathOf(patch), pathOf(imagePath), {}, pathOf(output), {}, {}, false})
                           .outcome);
        });
        EXPECT_EQ(ended.exitCode, int(ApplyOutcome::Applied)) << patch.toStdString();
        EXPECT_LT(ended.peakKiB / 1024, 64) << patch.toStdString();
        EXPECT_TRUE(readFile(output) == changed) << patch.toStdString();
        QFile::remove(output);
    }
}
