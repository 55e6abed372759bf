// tarnic-cli as scripts run it: a separate process, its exit status, what it
// prints, and what it leaves in the files.

#include "QtTestFiles.h"
#include "texts/BuildInfo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testfiles;

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        image = fileWith(dir, "game.z64", cartridgeImage(4096));
        swappedImage = fileWith(dir, "game.v64", byteSwapped(cartridgeImage(4096)));
        ApsFields fix;
        fix.imageSize = 4096;
        patch = fileWith(dir, "fix.aps", apsHeader(fix) + copyRecord(100, "PATCHED"));
        ApsFields other;
        other.cartId = "ZZ";
        otherPatch = fileWith(dir, "other.aps", apsHeader(other) + copyRecord(100, "OTHER"));
        simplePatch =
            fileWith(dir, "simple.aps",
                     simpleApsHeader("From another patcher", 4096) + copyRecord(0x20, "S"));
    }

    Outcome cli(const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(TARNIC_CLI), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QTemporaryDir dir;
    QString image, swappedImage, patch, otherPatch, simplePatch;
    const std::string original = cartridgeImage(4096);
};

} // namespace

TEST_F(CliTest, ExitStatusAndMessagesAndRefusalsLeaveEveryFileAsItWas) {
    const std::string swapped = byteSwapped(original);
    const struct {
        QStringList arguments;
        int status;
        QString says;
    } cases[] = {
        {{"check", "fix.aps", "game.z64"}, 0, "CRC Check: match"},
        {{"check", "other.aps", "game.z64"}, 1, "Cart-ID: differs (image \"AB\", patch \"ZZ\")"},
        {{"apply", "other.aps", "game.z64"}, 1, "Cart-ID differs"},
        {{"apply", "fix.aps", "game.v64"}, 1, "tarnic-cli swap game.v64"},
        {{"apply", "simple.aps", "game.z64"}, 1, "simple patch"},
        {{"apply", "fix.aps", "game.z64.BAK"}, 1, "a backup"},
        {{"apply", "gone.aps", "game.z64"}, 2, "Error Openning File: cannot be read"},
        {{"apply", "fix.aps"}, 2, "expected PATCH... IMAGE"},
        {{"apply", "--backup", "-o", "x.z64", "fix.aps", "game.z64"}, 2, "--backup"},
        {{"apply", "fix.aps", "game.z64", "-o", "fix.aps"}, 2, "the output is the patch"},
        {{"apply", "fix.aps", "game.z64", "-o", "./game.z64"}, 2, "the output is the patch"},
        {{"convert", "--to", "v64", "game.z64", "-o", "game.z64"}, 2, "the output is the image"},
        {{"check", "cut.aps", "game.z64"}, 1, "the patch ends inside its header"},
        {{"check", "fix.ips", "game.z64"}, 1, "an IPS patch does not say which image"},
        {{"info", "bad.ppf"}, 1, "the patch ends inside its header"},
        {{"info", "later.ppf"}, 1, "Not Supported In This Version: a PPF patch of a version"},
        {{"info", "cut.ips"}, 1, "the patch ends without its end mark (EOF)"},
        // A patch at fault is named, in its format's terms.
        {{"apply", "--force", "cut.ips", "game.z64"},
         1,
         "cut.ips: Error Openning Source File: the patch ends without its end mark (EOF)"},
        {{"apply", "--force", "bad.ppf", "game.z64"}, 1, "bad.ppf: Error Openning File: a PPF"},
        {{"apply", "--force", "old.xdelta", "game.z64"},
         1,
         "old.xdelta: Not An APS File: an xdelta 1"},
        {{"info", "old.xdelta"}, 1, "old.xdelta: Not An APS File: an xdelta 1 patch"},
        {{"apply", "fix.ips", "game.z64"}, 1, "an IPS patch does not say which image"},
        {{"info", "fix.ips"}, 0, "Records: 1"},
        {{"info", "block.ppf"}, 0, "Block check: 1024 bytes at 0x9320"},
        {{"info", "undo.ppf"}, 0, "Image type: GI\nUndo data: present\nRecords: 1\n"},
        {{"check", "block.ppf", "big.v64"}, 1, "the image matches read as z64"},
        {{"apply", "block.ppf", "big.v64"}, 1, "tarnic-cli convert --to z64 big.v64"},
        {{"apply", "--bogus", "fix.aps", "game.z64"}, 2, "Unknown option"},
        {{"info", "fix.aps", "simple.aps", "game.z64", "nothing.txt"}, 1, "neither an APS patch"},
        {{"info", "gone.z64"}, 2, "cannot be read"},
        {{"info", "nothing.txt", "fix.aps"}, 1, "neither an APS patch"}, // the worst status
        {{"convert", "--to", "x64", "game.z64"}, 2, "--to takes z64, v64 or n64"},
        {{"convert", "--to", "v64", "game.v64"}, 0, "already v64"},
        {{"swap", "nothing.txt"}, 1, "not an N64 image"},
        {{"create", "game.z64", "short.z64", "-o", "new.aps"}, 1, "cannot shorten"},
        {{"create", "game.z64", "game.z64"}, 2, "-o PATCH is required"},
        {{"fix-crc", "--check", "game.z64"}, 1, "checksum cannot be checked"},
        {{"fix-crc", "--cic", "9999", "game.z64"}, 2, "not a boot-code kind"},
        {{"frobnicate"}, 2, "not a command"},
        {{"--version"}, 0, QStringLiteral("tarnic-cli ") + tarnic::kProgramVersion},
        {{"--help"}, 0, "fix-crc IMAGE"},
        {{"--help"}, 0, "makes APS, BPS, IPS or xdelta (VCDIFF) patches"}, // from the format table
        {{"apply", "--help"}, 0, "(APS, BPS, UPS, IPS32, IPS, PPF, xdelta (VCDIFF))"},
        {{"create", "--help"}, 0, "Usage: tarnic-cli create [options] ORIGINAL MODIFIED"},
    };
    writeFile(dir.filePath("nothing.txt"), "not an image");
    writeFile(dir.filePath("old.xdelta"), "%XDZ004%" + std::string(40, '\0'));
    writeFile(dir.filePath("bad.ppf"), "PPF");
    writeFile(dir.filePath("later.ppf"), "PPF40" + std::string(60, '\3'));
    writeFile(dir.filePath("cut.ips"), std::string("PATCH\0\0\x10\0\x02IP", 12));
    writeFile(dir.filePath("cut.aps"), left(apsHeader(), 70)); // shows whole, cannot be applied
    writeFile(dir.filePath("fix.ips"), std::string("PATCH\0\0\x10\0\x02IPEOF", 15));
    writeFile(dir.filePath("game.z64.BAK"), original);
    writeFile(dir.filePath("short.z64"), left(original, 100));
    // A PPF3 patch with the block a larger cartridge-order image holds at
    // 0x9320, and that image byte-swapped.
    const std::string big = cartridgeImage(0xA000);
    writeFile(dir.filePath("big.v64"), byteSwapped(big));
    writeFile(dir.filePath("block.ppf"), "PPF30\2" + std::string(50, ' ') +
                                             std::string("\0\1\0\0", 4) + mid(big, 0x9320, 1024) +
                                             std::string("\0\1\0\0\0\0\0\0\1!", 10));
    writeFile(dir.filePath("undo.ppf"), "PPF30\2" + std::string(50, ' ') +
                                            std::string("\1\0\1\0", 4) +
                                            std::string("\0\0\0\0\0\0\0\0\1xy", 11));
    for (const auto &c : cases) {
        const Outcome run = cli(c.arguments);
        const QString said = run.out + run.err;
        EXPECT_EQ(run.status, c.status) << c.arguments.join(' ').toStdString() << '\n'
                                        << run.err.toStdString();
        EXPECT_TRUE(said.contains(c.says)) << c.arguments.join(' ').toStdString() << " said:\n"
                                           << said.toStdString();
        EXPECT_EQ(readFile(image), original);
        EXPECT_EQ(readFile(swappedImage), swapped);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 17)
            << "a file was added";
    }

    // What was printed must reach its destination: a full disk is a failure.
    QProcess full;
    full.setWorkingDirectory(dir.path());
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(QStringLiteral(TARNIC_CLI), {"check", "fix.aps", "game.z64"});
    ASSERT_TRUE(full.waitForFinished(60000));
    EXPECT_EQ(full.exitCode(), 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 17);
}

TEST_F(CliTest, ApplyWritesAsTheWindowDoes) {
    const std::string patched = std::string(original).replace(100, 7, "PATCHED");
    Outcome run = cli({"apply", "fix.aps", "game.z64", "-o", "out.z64"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(dir.filePath("out.z64")), patched);
    EXPECT_EQ(readFile(image), original);

    run = cli({"apply", "--backup", "fix.aps", "game.z64"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "game.z64: 1 record applied, 7 bytes written; the image as it was is in "
                       "game.z64.BAK\n");
    EXPECT_EQ(readFile(image), patched);
    EXPECT_EQ(readFile(image + ".BAK"), original);

    EXPECT_EQ(cli({"apply", "--force", "simple.aps", "game.z64"}).status, 0);
    EXPECT_EQ(readFile(image), std::string(patched).replace(0x20, 1, "S"));

    // A patch with no CRC-32 of its result is not said to have one checked.
    writeFile(dir.filePath("fix.ips"), std::string("PATCH\0\0\x10\0\x02IPEOF", 15));
    EXPECT_EQ(cli({"apply", "--force", "fix.ips", "game.z64", "-o", "ips.z64"}).out,
              "ips.z64: 1 record applied, 2 bytes written\n");

    // A UPS patch proves its image by CRC-32: nothing to force, in any order.
    const std::string current = readFile(image);
    const std::string upsResult = std::string(current).replace(8, 2, "UP");
    writeFile(dir.filePath("fix.ups"),
              upsPatch(current, upsResult, bpsNumber(8) + upsXor(mid(current, 8, 2), "UP")));
    writeFile(dir.filePath("other.v64"), byteSwapped(current));
    run = cli({"apply", "fix.ups", "other.v64"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "other.v64: UPS patch applied to the image read as z64, 4096 bytes "
                       "written, the result's CRC-32 checked\n");
    EXPECT_EQ(readFile(dir.filePath("other.v64")), byteSwapped(upsResult));

    EXPECT_EQ(cli({"swap", "game.v64"}).out, "game.v64: Doctor v64 -> CD64/Z64/Wc/SP\n");
    EXPECT_EQ(readFile(swappedImage), original);
}

TEST_F(CliTest, InfoShowsTheWindowsTextsPaddingKept) {
    Outcome run = cli({"info", "fix.aps", "simple.aps"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n');
    EXPECT_EQ(lines.mid(0, 8),
              (QStringList{"fix.aps: APS patch", "Patch Type: N64 Specific Patch            ",
                           "EncodeType: Simple Encoding               ",
                           "NFo: Fan translation 1.0                               ",
                           "Target Format: CD64/Z64/Wc/SP      ", "Cart-ID: AB",
                           "Country ID: 45h  _USA           ", "CRC Check: 0AB1007F : FF100233"}));
    EXPECT_EQ(lines.mid(8, 3), (QStringList{"Records: 1", "Bytes written: 7", "Image size: 4096"}));
    EXPECT_TRUE(lines.contains("Target Format: ")); // the simple patch names no image

    run = cli({"info", "--json", "fix.aps", "game.v64"});
    ASSERT_EQ(run.status, 0);
    const QStringList objects = run.out.trimmed().split('\n');
    ASSERT_EQ(objects.size(), 2);
    const QJsonObject patchInfo = QJsonDocument::fromJson(objects[0].toUtf8()).object();
    EXPECT_EQ(patchInfo["texts"]["Country ID"].toString(), "45h  _USA           ");
    EXPECT_EQ(patchInfo["raw"]["records"].toInt(), 1);
    EXPECT_EQ(patchInfo["raw"]["countryCode"].toInt(), 'E');
    const QJsonObject imageInfo = QJsonDocument::fromJson(objects[1].toUtf8()).object();
    EXPECT_EQ(imageInfo["texts"]["Image Format"].toString(), "Doctor v64          ");
    EXPECT_EQ(imageInfo["texts"]["Rom Header"].toString(), "TARNIC TEST IMAGE   ");
    EXPECT_EQ(imageInfo["raw"]["byteOrder"].toString(), "v64");
    EXPECT_EQ(imageInfo["raw"]["crc1"].toString(), "0AB1007F"); // in cartridge order
    // The digests ROM databases list, of the file and of the image in z64 order.
    const QJsonObject z64 =
        QJsonDocument::fromJson(cli({"info", "--json", "game.z64"}).out.toUtf8())
            .object()
            .value("raw")
            .toObject()
            .value("stored")
            .toObject();
    EXPECT_EQ(imageInfo["raw"]["z64"].toObject(), z64);
    EXPECT_EQ(z64["md5"].toString(),
              QCryptographicHash::hash(original, QCryptographicHash::Md5).toHex());
    EXPECT_NE(imageInfo["raw"]["stored"]["md5"], z64["md5"]);
    EXPECT_EQ(imageInfo["raw"]["crc2"].toString(), "FF100233");

    ASSERT_EQ(cli({"convert", "--to", "n64", "game.z64", "-o", "game.n64"}).status, 0);
    run = cli({"info", "game.n64"});
    EXPECT_TRUE(run.out.contains("Image Format: little-endian (.n64); convert with: tarnic-cli "
                                 "convert --to z64 game.n64"));
    EXPECT_TRUE(run.out.contains("Cart-ID: AB"));
}

TEST_F(CliTest, CreateThenApplyGivesTheModifiedImageAndFixCrcMendsTheChecksum) {
    std::string modified = original + std::string(100, '\0') + "GROWN";
    modified.replace(0x20, 5, "HACKS");
    writeFile(dir.filePath("hack.z64"), modified);
    Outcome run = cli({"create", "game.z64", "hack.z64", "-o", "hack.aps", "-d", "My hack"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(cli({"apply", "hack.aps", "game.z64"}).status, 0); // the pairs match: no --force
    EXPECT_EQ(readFile(image), modified);

    std::string big(0x101000, 'z');
    big.replace(0, 4, fromHex("80371240")).replace(0x10, 8, std::string(8, 0));
    const QString bigImage = fileWith(dir, "big.z64", big);
    run = cli({"fix-crc", "--check", "--cic", "6102", "big.z64"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.contains("checksum wrong: header has 00000000 : 00000000, should be "));
    EXPECT_EQ(readFile(bigImage), big);
    EXPECT_EQ(cli({"fix-crc", "--cic", "7101", "big.z64"}).status, 0);
    EXPECT_EQ(cli({"fix-crc", "--check", "--cic", "6102", "big.z64"}).out,
              "big.z64: checksum valid (CIC 6102)\n");
}

// A BPS patch (built here) and an xdelta patch (made by create, and read by
// xdelta3 itself) prove their source: checked and applied in the image's own
// byte order, refused where applied already or made for another image.
TEST_F(CliTest, APatchThatProvesItsSourceIsCheckedAndAppliedInTheImagesOwnByteOrder) {
    std::string modified = original;
    modified.replace(0x200, 6, "NEW OK");
    writeFile(dir.filePath("hack.z64"), modified);
    const std::string actions = bpsAction(0, 0x200) + bpsAction(1, 6) + "NEW OK" +
                                bpsAction(2, original.size() - 0x206) + bpsMove(0x206);
    writeFile(dir.filePath("hack.bps"), bpsPatch(original, modified, actions, "Hack 1.0"));
    ASSERT_EQ(cli({"create", "--format", "xdelta", "game.z64", "hack.z64", "-o", "hack.xdelta",
                   "-d", "Hack 1.0"})
                  .status,
              0);
    ASSERT_EQ(std::system(("xdelta3 -d -f -s '" + image.toStdString() + "' '" +
                           dir.filePath("hack.xdelta").toStdString() + "' '" +
                           dir.filePath("out.z64").toStdString() + "'")
                              .c_str()),
              0);
    EXPECT_EQ(readFile(dir.filePath("out.z64")), modified);

    const struct {
        QString patch, info, checked, refused, forced;
    } cases[] = {
        {"hack.bps", "Metadata: Hack 1.0", "the result's CRC-32 checked", "the patch's source has ",
         "CRC-32 differs"},
        {"hack.xdelta", "Description: Hack 1.0", "the result's checksums checked",
         "does not have the checksum the patch carries", "Adler-32"},
    };
    writeFile(dir.filePath("other.z64"), cartridgeImage(4096).replace(0x300, 1, "!"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.patch.toStdString());
        writeFile(swappedImage, byteSwapped(original));
        EXPECT_TRUE(cli({"info", c.patch}).out.contains(c.info));
        EXPECT_EQ(cli({"check", c.patch, "game.v64"}).status, 0);
        Outcome run = cli({"apply", c.patch, "game.v64"});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("read as z64, 4096 bytes written, " + c.checked))
            << run.out.toStdString();
        EXPECT_EQ(readFile(swappedImage), byteSwapped(modified)); // still v64
        EXPECT_TRUE(cli({"apply", c.patch, "game.v64"}).err.contains("Already Patched"));
        run = cli({"apply", c.patch, "other.z64"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(c.refused)) << run.err.toStdString();
        EXPECT_EQ(cli({"check", c.patch, "other.z64"}).status, 1);
        // Forced, the result's checksums still decide: the changed byte is read, so no.
        EXPECT_TRUE(cli({"apply", "--force", c.patch, "other.z64"}).err.contains(c.forced));
        EXPECT_EQ(readFile(dir.filePath("other.z64")), cartridgeImage(4096).replace(0x300, 1, "!"));
    }
}

TEST_F(CliTest, SeveralPatchesInARowReplaceTheImageOnceOrNotAtAll) {
    std::string first = original;
    first.replace(0x200, 5, "FIRST");
    std::string second = first;
    second.replace(0x400, 6, "SECOND");
    const auto patch = [](const std::string &from, const std::string &to, qint64 at, qint64 size) {
        return bpsPatch(from, to,
                        bpsAction(0, quint64(at)) + bpsAction(1, quint64(size)) +
                            mid(to, at, size) + bpsAction(2, quint64(from.size() - at - size)) +
                            bpsMove(at + size));
    };
    writeFile(dir.filePath("1.bps"), patch(original, first, 0x200, 5));
    writeFile(dir.filePath("2.bps"), patch(first, second, 0x400, 6));

    // The wrong order: the second patch's source is not the image; nothing written.
    Outcome run = cli({"apply", "2.bps", "1.bps", "game.v64"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("patch 1 of 2")) << run.err.toStdString();
    EXPECT_EQ(readFile(swappedImage), byteSwapped(original));
    // APS patches name no image in between: --force, as for one.
    EXPECT_EQ(cli({"apply", "1.bps", "fix.aps", "game.v64"}).status, 1);

    run = cli({"apply", "--backup", "1.bps", "2.bps", "game.v64"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(swappedImage), byteSwapped(second));
    EXPECT_EQ(readFile(swappedImage + ".BAK"), byteSwapped(original));
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .filter("tarnic")
                  .size(),
              0);
}

namespace {

// Runs a shell script in the test's folder, with $T the program: names that
// are not valid UTF-8 reach it as the bytes printf makes.
Outcome shell(const QTemporaryDir &dir, const QString &script) {
    QProcess process;
    process.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("T", QStringLiteral(TARNIC_CLI));
    process.setProcessEnvironment(environment);
    process.start("bash", {"-c", script});
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

TEST_F(CliTest, NamesAreBytesThroughLinksAndAnUnrelatedFileWithTheLossyNameIsNeverTouched) {
    // g\xff.z64 is the image; g\xef\xbf\xbd.z64 is what a lossy conversion of
    // its name would spell.
    const QTemporaryDir &d = dir;
    const std::filesystem::path real = pathOf(d.path()) / "g\xff.z64";
    const std::filesystem::path decoy = pathOf(d.path()) / "g\xef\xbf\xbd.z64";
    writeFile(real, original);
    writeFile(decoy, "precious\n");
    std::filesystem::create_symlink("g\xff.z64", pathOf(d.path()) / "l.z64");
    std::string patched = original;
    patched.replace(100, 7, "PATCHED");

    Outcome run = cli({"apply", "fix.aps", "l.z64", "--backup"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(real), patched);
    EXPECT_EQ(readFile(dir.filePath("l.z64.BAK")), original);
    EXPECT_TRUE(std::filesystem::is_symlink(pathOf(d.path()) / "l.z64"));

    EXPECT_EQ(cli({"swap", "l.z64"}).status, 0);
    EXPECT_EQ(readFile(real), byteSwapped(patched));
    EXPECT_EQ(cli({"convert", "--to", "z64", "l.z64"}).status, 0);
    EXPECT_EQ(readFile(real), patched);

    // Named directly, in and out.
    run = shell(
        dir,
        R"sh($T apply --force simple.aps "$(printf 'g\377.z64')" -o "$(printf 'o\376.z64')")sh");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    std::string simplyPatched = patched;
    simplyPatched[0x20] = 'S';
    EXPECT_EQ(readFile(pathOf(d.path()) / "o\xfe.z64"), simplyPatched);
    EXPECT_EQ(readFile(decoy), "precious\n");
    EXPECT_FALSE(std::filesystem::exists(pathOf(d.path()) / "o\xef\xbf\xbd.z64"));
}

TEST_F(CliTest, AnInputAtANameTheRunWritesIsRefusedNamingItAndNothingIsMovedOrDeleted) {
    const std::string patchBytes = readFile(patch);
    const struct {
        const char *script; // writes the input or the obstacle, then runs $T
        const char *atFault;
        int status;
        const char *kept = nullptr; // the input or obstacle, where the message names another
    } cases[] = {
        {"cp fix.aps game.z64.BAK; $T apply game.z64.BAK game.z64 --backup", "game.z64.BAK", 1},
        {"cp fix.aps .game.z64.tarnic-new; $T apply .game.z64.tarnic-new game.z64",
         ".game.z64.tarnic-new", 1},
        {"cp fix.aps game.z64.BAK.tarnic-new; $T apply game.z64.BAK.tarnic-new game.z64 --backup",
         "game.z64.BAK.tarnic-new", 1},
        {"mkdir game.z64.BAK.tarnic-new; $T apply fix.aps game.z64 --backup",
         "game.z64.BAK.tarnic-new", 2},
        {"mkdir game.z64.BAK; $T apply fix.aps game.z64 --backup", "game.z64.BAK", 2},
        {"mkdir .game.z64.tarnic-new; $T apply fix.aps game.z64", ".game.z64.tarnic-new", 2},
        {"cp fix.aps .out.z64.tarnic-new; $T apply .out.z64.tarnic-new game.z64 -o out.z64",
         ".out.z64.tarnic-new", 1},
        {"cp game.v64 .out.z64.tarnic-new; $T convert --to z64 .out.z64.tarnic-new -o out.z64",
         ".out.z64.tarnic-new", 2},
        {"cp game.z64 .fix.bps.tarnic-new; $T create --format bps .fix.bps.tarnic-new game.v64 "
         "-o fix.bps",
         "fix.bps", 2, ".fix.bps.tarnic-new"},
    };
    for (const auto &c : cases) {
        const Outcome run = shell(dir, c.script);
        EXPECT_EQ(run.status, c.status) << c.script << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.atFault)) << c.script << "\n" << run.err.toStdString();
        EXPECT_EQ(readFile(image), original) << c.script;
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.z64"))) << c.script;
        const QString left = dir.filePath(QString::fromLatin1(c.kept ? c.kept : c.atFault));
        EXPECT_TRUE(QFileInfo(left).isDir() || readFile(left) == patchBytes ||
                    readFile(left) == original || readFile(left) == byteSwapped(original))
            << c.script;
        shell(dir, QStringLiteral("rm -rf %1").arg(left));
    }
    // Several patches in a row: the backup would replace the second.
    const Outcome row = shell(dir, "cp fix.aps game.z64.BAK; "
                                   "$T apply --force --backup simple.aps game.z64.BAK game.z64");
    EXPECT_EQ(row.status, 1) << row.err.toStdString();
    EXPECT_EQ(readFile(dir.filePath("game.z64.BAK")), patchBytes);
    EXPECT_EQ(readFile(image), original);
}

TEST_F(CliTest, TheStatusSaysWhetherAChangeIsOnDisk) {
    // Made, but not reported: 3, and the message says the change is there.
    Outcome run = shell(dir, "$T swap game.z64 > /dev/full");
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.err.contains("are on disk")) << run.err.toStdString();
    EXPECT_EQ(readFile(image), byteSwapped(original));
    // Nothing made: 2.
    run = shell(dir, "$T check fix.aps game.v64 > /dev/full");
    EXPECT_EQ(run.status, 2);
    // One image of two converted: 3.
    run = cli({"swap", "game.z64", "missing.z64"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(readFile(image), original);

    // A row of patches whose output folder is missing: 2, with the system's reason.
    writeFile(dir.filePath("1.bps"),
              bpsPatch(original, original + "X",
                       bpsAction(0, quint64(original.size())) + bpsAction(1, 1) + "X"));
    run = cli({"apply", "1.bps", "1.bps", "game.z64", "--force", "-o", "no/such/out.z64"});
    EXPECT_EQ(run.status, 1) << run.err.toStdString(); // the second is not the first's source
    run = cli({"apply", "1.bps", "fix.aps", "game.z64", "--force", "-o", "no/such/out.z64"});
    EXPECT_EQ(run.status, 2) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("No such file or directory")) << run.err.toStdString();
}

TEST_F(CliTest, InfoGivesSizesPastTwoToTheSixtyThirdAsTheUnsignedNumbersTheyAre) {
    const std::string crcs("\1\0\0\0\2\0\0\0", 8);
    writeFile(dir.filePath("huge.bps"),
              withBpsPatchCrc("BPS1" + bpsNumber(~quint64(0)) + bpsNumber((quint64(1) << 63) + 5) +
                              bpsNumber(0) + crcs + std::string(4, '\0')));
    const Outcome run = cli({"info", "--json", "huge.bps"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("\"sourceSize\":18446744073709551615,")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\"targetSize\":9223372036854775813}")) << run.out.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(run.out.toUtf8()).isObject());
}

TEST_F(CliTest, APatchThatNamesItsByteOrderIsWrittenInItIntoAnImageInAnother) {
    // fix.aps names the cartridge order: --force (the format pair differs)
    // makes the same change to the byte-swapped twin, in the twin's order.
    const Outcome run = cli({"apply", "--force", "fix.aps", "game.v64"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(swappedImage),
              byteSwapped(std::string(original).replace(100, 7, "PATCHED")));
}

TEST_F(CliTest, APatchThatNamesNoByteOrderGoesIntoACopiersOrderOnlyWithForceAndAsItStands) {
    // Each writes two bytes at its offset: an IPS, a simple APS and a PPF1
    // without block check.
    const struct {
        const char *name;
        std::string bytes;
        qsizetype at;
        std::string written;
    } patches[] = {
        {"p.ips", std::string("PATCH\0\0\x10\0\x02IPEOF", 15), 0x10, "IP"},
        {"p.aps", simpleApsHeader("Simple", 4096) + copyRecord(0x20, "SA"), 0x20, "SA"},
        {"p.ppf",
         "PPF10" + std::string(1, '\0') + padded(std::string("Plain"), 50) +
             std::string("\x30\0\0\0\x02PP", 7),
         0x30, "PP"},
    };
    const struct {
        const char *image;
        std::string (*stored)(std::string);
        const char *order; // as the refusal names it, or none for cartridge order
    } orders[] = {{"i.z64", [](std::string b) { return b; }, nullptr},
                  {"i.v64", byteSwapped, "Doctor v64 order"},
                  {"i.n64", wordsReversed, "little-endian order"}};
    for (const auto &p : patches) {
        writeFile(dir.filePath(p.name), p.bytes);
        for (const auto &o : orders) {
            const std::string stored = o.stored(original);
            writeFile(dir.filePath(o.image), stored);
            const Outcome refused = cli({"apply", p.name, o.image});
            EXPECT_EQ(refused.status, 1) << p.name << " " << o.image;
            EXPECT_TRUE(o.order ? refused.err.contains(o.order)
                                : refused.err.contains("which image it was made for"))
                << p.name << " " << o.image << ": " << refused.err.toStdString();
            EXPECT_EQ(readFile(dir.filePath(o.image)), stored);
            EXPECT_EQ(cli({"apply", "--force", p.name, o.image}).status, 0) << p.name;
            EXPECT_EQ(readFile(dir.filePath(o.image)),
                      std::string(stored).replace(p.at, 2, p.written))
                << p.name << " " << o.image;
        }
    }
}
