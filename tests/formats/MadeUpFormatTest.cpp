// A format Tarnic has never heard of, registered in the format table by this
// test alone: the window lists, shows and applies it, and tarnic-cli's info,
// check and apply treat it as they treat their own, though neither names it.
//
// The made-up "TNX" patch: the magic "TNX\0!" (a NUL byte in it), the size of
// the image it was made for (4 bytes, little-endian), then records of an
// offset (4 bytes, little-endian) and the one byte written there.

#include "FileList.h"
#include "Form1.h"
#include "Run.h"
#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"
#include "startup/Settings.h"

#include "Fakes.h"
#include "QtTestFiles.h"

#include "files/FileReader.h"
#include "io/Endian.h"
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

constexpr qint64 kHeaderSize = 9;
const PatchFormat kTnx = PatchFormat(100);

class TnxRecords : public RecordStream {
  public:
    explicit TnxRecords(Reader &patch) : patch_(patch) {}
    Step next(PatchRecord &record) override {
        char bytes[5];
        const qint64 got = patch_.read(bytes, 5);
        if (got == 0)
            return Step::End;
        if (got != 5)
            return got < 0 ? Step::ReadFailed : Step::Truncated;
        record.Offset = fromLittleEndian<std::uint32_t>(bytes);
        record.Length = 1;
        value_ = bytes[4];
        record.Data = &value_;
        return Step::Record;
    }

  private:
    Reader &patch_;
    char value_ = 0;
};

RecordRules tnxRules() {
    RecordRules rules;
    rules.open = [](Reader &patch) { return std::make_unique<TnxRecords>(patch); };
    return rules;
}

// The size of the image the patch was made for; none when it is cut short.
std::optional<qint64> imageSizeOf(Reader &patch) {
    char head[kHeaderSize];
    if (!patch.seek(0) || patch.read(head, kHeaderSize) != kHeaderSize)
        return std::nullopt;
    return fromLittleEndian<std::uint32_t>(head + 5);
}

PatchFileOutcome readTnxHeader(Reader &patch, PatchFileCheck &check) {
    if (!imageSizeOf(patch))
        return PatchFileOutcome::Truncated;
    check.recordsStart = kHeaderSize;
    return PatchFileOutcome::Valid;
}

ImageBlockCheck checkTnxImage(const std::filesystem::path &patchPath,
                              const std::filesystem::path &imagePath) {
    FileReader patch;
    FileReader image;
    if (!patch.open(patchPath) || !image.open(imagePath))
        return {ImageBlockFit::Unreadable};
    return {imageSizeOf(patch) == image.size() ? ImageBlockFit::Fits : ImageBlockFit::Differs};
}

ApplyResult applyTnx(const PatchJob &job) {
    return applyRecords(job, tnxRules(), readTnxHeader,
                        [&job](Reader &, ApplyResult &,
                               std::optional<ResultCheck> &) -> std::optional<ApplyOutcome> {
                            if (checkTnxImage(job.patchPath, job.imagePath).fit ==
                                ImageBlockFit::Fits)
                                return std::nullopt;
                            return ApplyOutcome::WrongImage;
                        });
}

PatchSummary summarizeTnx(const std::filesystem::path &patchPath, ReadDepth) {
    PatchSummary summary;
    summary.format = kTnx;
    const PatchFileCheck check = checkRecordFile(patchPath, tnxRules(), readTnxHeader);
    summary.read = readOf(check.outcome, summary.fault);
    if (!summary.readable())
        return summary;
    summary.checks = PatchChecks::ImageBlock;
    summary.namesByteOrder = true;
    summary.description = "made up";
    summary.heading = "TNX patch";
    summary.kind = "tnx-patch";
    summary.lines = {{"Records", std::to_string(check.records)}};
    summary.fields = {{"records", std::int64_t(check.records)}};
    return summary;
}

std::string tnxPatch(quint32 imageSize, const QList<std::pair<quint32, char>> &records) {
    std::string patch("TNX\0!", 5);
    char number[4];
    toLittleEndian(imageSize, number);
    patch.append(number, 4);
    for (const auto &[offset, value] : records) {
        toLittleEndian(offset, number);
        patch.append(number, 4) += value;
    }
    return patch;
}

class MadeUpFormatTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        registerPatchFormat({kTnx, "TNX", "*.tnx", std::string_view("TNX\0!", 5), applyTnx, nullptr,
                             nullptr, summarizeTnx, checkTnxImage, "application/x-tnx-patch", false,
                             ""});
    }

    void SetUp() override {
        QDir(dir.path()).mkdir(QStringLiteral("roms"));
        writeFile(path("roms/game.z64"), cartridgeImage());
        writeFile(path("roms/other.z64"), cartridgeImage(8192));
        writeFile(path("roms/fix.tnx"), tnxPatch(4096, {{0x1000, 'T'}, {0x1001, 'X'}}));
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }

    // tarnic-cli run in this process, so that it sees the registered format.
    int cli(const QStringList &arguments, QString &out) {
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        cli::Console console{outStream, errStream};
        const int status = cli::run(QStringList{QStringLiteral("tarnic-cli")} + arguments, console);
        outStream.flush();
        errStream.flush();
        out += err;
        return status;
    }

    QTemporaryDir dir;
};

TEST_F(MadeUpFormatTest, TarnicCliInspectsChecksAndAppliesAFormatItDoesNotName) {
    const QString patch = path("roms/fix.tnx");
    QString said;
    EXPECT_EQ(cli({QStringLiteral("info"), patch}, said), 0);
    EXPECT_EQ(said, patch + QStringLiteral(": TNX patch\nRecords: 2\n")) << said.toStdString();
    said.clear();
    EXPECT_EQ(cli({QStringLiteral("info"), QStringLiteral("--json"), patch}, said), 0);
    EXPECT_TRUE(said.contains(QStringLiteral("\"kind\":\"tnx-patch\""))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("\"raw\":{\"records\":2}"))) << said.toStdString();

    said.clear();
    EXPECT_EQ(cli({QStringLiteral("check"), patch, path("roms/other.z64")}, said), 1);
    EXPECT_TRUE(said.startsWith(QStringLiteral("Block check: differs"))) << said.toStdString();
    said.clear();
    EXPECT_EQ(cli({QStringLiteral("apply"), patch, path("roms/other.z64")}, said), 1);
    EXPECT_EQ(readFile(path("roms/other.z64")), cartridgeImage(8192));

    said.clear();
    EXPECT_EQ(cli({QStringLiteral("check"), patch, path("roms/game.z64")}, said), 0);
    EXPECT_EQ(said, QStringLiteral("Block check: match\n"));
    said.clear();
    EXPECT_EQ(cli({QStringLiteral("apply"), patch, path("roms/game.z64")}, said), 0)
        << said.toStdString();
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage().replace(0x1000, 2, "TX"));

    // Cut inside a record: refused by info and apply alike, nothing written.
    writeFile(patch, chopped(tnxPatch(4096, {{0x1000, 'T'}}), 1));
    said.clear();
    EXPECT_EQ(cli({QStringLiteral("info"), patch}, said), 1);
    EXPECT_TRUE(said.contains(QStringLiteral("cut short"))) << said.toStdString();
    said.clear();
    EXPECT_EQ(cli({QStringLiteral("apply"), patch, path("roms/game.z64")}, said), 1);
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage().replace(0x1000, 2, "TX"));
}

TEST_F(MadeUpFormatTest, TheWindowListsShowsAndPatchesWithIt) {
    Settings settings;
    settings.PatchDir = settings.RomDir = path("roms");
    fakes::Messages messages;
    fakes::Folders folders;
    fakes::Busy busy;
    Form1 window(settings, ProgramServices{messages, folders, path("roms"), path("roms/Tarnic.ini"),
                                           &busy, [] {}});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto click = [&window](const char *listName, const QString &entry) {
        FileList *list = window.findChild<FileList *>(QLatin1String(listName));
        const QList<QListWidgetItem *> found = list->findItems(entry, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << entry.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(found.first()).center());
        QCoreApplication::processEvents();
    };
    const auto label = [&window](const char *name) {
        return window.findChild<QLabel *>(QLatin1String(name))->text();
    };
    click("RomFileList", QStringLiteral("game.z64"));
    click("PatchFileList", QStringLiteral("fix.tnx"));
    EXPECT_EQ(label("PatchTypeTxT"), QStringLiteral("TNX Patch").leftJustified(30));
    EXPECT_EQ(label("EncodeMethodTxt"), QStringLiteral("Block Checked").leftJustified(30));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("PatchClk")), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.asked.isEmpty()) << messages.asked.join(u'\n').toStdString();
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join(u'\n').toStdString();
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage().replace(0x1000, 2, "TX"));
}

} // namespace
