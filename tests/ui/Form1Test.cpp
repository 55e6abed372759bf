#include "Form1.h"
#include "FileList.h"
#include "Form2.h"
#include "rom/ByteOrderConversion.h"
#include "startup/Settings.h"

#include "Fakes.h"
#include "QtTestFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

// The compared pairs: image side, patch side.
const std::pair<const char *, const char *> kPairs[] = {{"RomFormatTxt", "BackupType"},
                                                        {"RomCartIDTxT", "CartID"},
                                                        {"RomCountryTxt", "CountryID"},
                                                        {"RomCRCTxt", "PTCRC"}};

class Form1Test : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *sub : {"prog", "aps", "roms"})
            QDir(dir.path()).mkdir(QLatin1String(sub));
        settings.PatchDir = path("aps");
        settings.RomDir = path("roms");
        writeFile(path("aps/fix.aps"), apsHeader() + copyRecord(0x1000, "PATCHED"));
        writeFile(path("roms/game.z64"), cartridgeImage());
        writeFile(path("roms/twin.V64"), byteSwapped(cartridgeImage()));
        writeFile(path("roms/notes.txt"), "not listed");
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }

    Form1 &window() {
        if (!form) {
            ProgramServices services{messages,     folders,
                                     path("prog"), path("prog/Tarnic.ini"),
                                     &busy,        [this] { ++programEnds; }};
            form = std::make_unique<Form1>(settings, services);
            form->show();
            QApplication::setActiveWindow(form.get());
            EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        }
        return *form;
    }

    template <typename T> T *control(const char *name) {
        T *found = window().findChild<T *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char *name) { return control<QLabel>(name)->text(); }
    FileList *list(const char *name) { return control<FileList>(name); }
    QPushButton *button(const char *name) { return control<QPushButton>(name); }
    QStringList listed(const char *name) {
        QStringList names;
        const FileList *entries = control<FileList>(name);
        for (int row = 0; row < entries->count(); ++row)
            names << entries->item(row)->text();
        return names;
    }
    // Lets the handlers that the input started run.
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // A press and release of the left button on the entry, as the mouse does it.
    void click(const char *list, const QString &entry) {
        FileList *l = control<FileList>(list);
        const QList<QListWidgetItem *> found = l->findItems(entry, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << entry.toStdString();
        l->scrollToItem(found.first());
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {},
                          l->visualItemRect(found.first()).center());
        settle();
    }
    void press(QPushButton *button) {
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
    }
    // A key pressed where the keyboard focus is.
    void type(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &window(), key, modifiers);
        settle();
    }
    // Opens the menu `menu` of the menu bar and chooses `item`, by mouse.
    void choose(const char *menu, const char *itemName) {
        QMenuBar *bar = window().menuBar();
        QMenu *opened = window().findChild<QMenu *>(QLatin1String(menu));
        QAction *item = window().findChild<QAction *>(QLatin1String(itemName));
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(opened->menuAction()).center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return opened->isVisible(); }));
        QTest::mouseClick(opened, Qt::LeftButton, {}, opened->actionGeometry(item).center());
        settle();
    }
    // Green (true) or red (false) for the four pairs, checking both labels agree.
    std::vector<bool> pairColours() {
        std::vector<bool> green;
        for (const auto &[imageSide, patchSide] : kPairs) {
            const QColor c = control<QLabel>(imageSide)->palette().color(QPalette::WindowText);
            EXPECT_EQ(c, control<QLabel>(patchSide)->palette().color(QPalette::WindowText));
            // The program's green and red, as they were always drawn.
            EXPECT_TRUE(c == QColor(0, 255, 0) || c == QColor(255, 0, 0));
            green.push_back(c == QColor(0, 255, 0));
        }
        return green;
    }

    QTemporaryDir dir;
    Settings settings;
    fakes::Messages messages;
    fakes::Folders folders;
    fakes::Busy busy;
    int programEnds = 0;
    std::unique_ptr<Form1> form;
};

const std::vector<bool> allGreen{true, true, true, true};

} // namespace

TEST_F(Form1Test, OpensWithEmptyGreenFieldsAndBothListsFiltered) {
    writeFile(path("roms/old.z64.BAK"), "x");
    writeFile(path("aps/LOUD.APS"), "x");
    EXPECT_EQ(pairColours(), allGreen);
    for (const auto &[imageSide, patchSide] : kPairs)
        EXPECT_TRUE(text(imageSide).isEmpty() && text(patchSide).isEmpty());
    // Nothing is selected yet: nothing to patch or convert.
    for (const char *name : {"BrowseClk1", "BrowseClk2", "PatchClk", "SwapCartClk"})
        EXPECT_EQ(button(name)->isEnabled(), std::string(name).starts_with("Browse")) << name;
    click("RomFileList", "game.z64");
    EXPECT_TRUE(button("SwapCartClk")->isEnabled());
    EXPECT_FALSE(button("PatchClk")->isEnabled()); // no patch selected
    click("PatchFileList", "fix.aps");
    EXPECT_TRUE(button("PatchClk")->isEnabled());
    EXPECT_EQ(listed("PatchFileList"), (QStringList{"fix.aps", "LOUD.APS"}));
    EXPECT_EQ(listed("RomFileList"), (QStringList{"game.z64", "old.z64.BAK", "twin.V64"}));
    EXPECT_EQ(list("RomFileList")->toolTip(), settings.RomDir);
}

TEST_F(Form1Test, APatchAndItsImageMatchInEitherOrderAndTheTwinDiffersInFormatOnly) {
    click("RomFileList", "game.z64");
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, false, false, false}));
    click("PatchFileList", "fix.aps");
    EXPECT_EQ(pairColours(), allGreen);
    EXPECT_EQ(text("PTCRC"), QStringLiteral("0AB1007F : FF100233"));
    EXPECT_EQ(control<QPlainTextEdit>("RomHeaderTxT")->toPlainText(),
              QStringLiteral("TARNIC TEST IMAGE   "));
    EXPECT_EQ(QDir::current(), QDir(path("aps")));

    click("RomFileList", "twin.V64");
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(text("RomFormatTxt"), QStringLiteral("Doctor v64          "));
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(Form1Test, ButtonsFollowTheSelectedImage) {
    writeFile(path("roms/copy.z64.BAK"), cartridgeImage()); // a backup, not ".Bak"
    writeFile(path("roms/copy.z64.bak"), cartridgeImage());
    writeFile(path("roms/copy.z64.Bak"), cartridgeImage());
    writeFile(path("roms/text.ROM"), "hello world");
    auto *patchRom = button("PatchClk");
    auto *change = button("SwapCartClk");
    click("PatchFileList", "fix.aps");

    for (const char *backup : {"copy.z64.BAK", "copy.z64.bak"}) {
        click("RomFileList", "copy.z64.Bak");
        EXPECT_TRUE(patchRom->isEnabled());
        click("RomFileList", backup);
        EXPECT_FALSE(patchRom->isEnabled()) << backup;
        EXPECT_TRUE(change->isEnabled());
    }

    click("RomFileList", "text.ROM");
    EXPECT_FALSE(patchRom->isEnabled() || change->isEnabled());
    EXPECT_TRUE(text("RomFormatTxt").isEmpty());
    EXPECT_EQ(pairColours(), allGreen); // the colours of the last check stay
    EXPECT_TRUE(messages.shown.isEmpty());

    // A file removed after listing: message, "Change Format" as it was.
    QFile::remove(path("roms/game.z64"));
    click("RomFileList", "game.z64");
    EXPECT_EQ(messages.shown, QStringList{"Error Openning File"});
    EXPECT_TRUE(patchRom->isEnabled());
    EXPECT_FALSE(change->isEnabled());
}

TEST_F(Form1Test, PatchMessagesLeaveTheDisplaysAsDescribed) {
    writeFile(path("aps/bad.aps"), "APS11 and more");
    ApsFields target;
    target.target = 2;
    target.cartId = "ZZ";
    writeFile(path("aps/target.aps"), apsHeader(target));
    ApsFields encoding;
    encoding.encoding = 1;
    writeFile(path("aps/enc.aps"), apsHeader(encoding));
    click("PatchFileList", "fix.aps");
    click("RomFileList", "twin.V64"); // pair 1 red from here on

    click("PatchFileList", "bad.aps");
    click("PatchFileList", "target.aps");
    EXPECT_EQ(text("PatchTypeTxT"), QStringLiteral("N64 Specific Patch            "));
    EXPECT_TRUE(text("BackupType").isEmpty());
    EXPECT_EQ(text("CartID"), QStringLiteral("AB")); // still the previous patch
    click("PatchFileList", "enc.aps");
    EXPECT_EQ(messages.shown, (QStringList{"Not An APS File", "Error Openning File",
                                           "Not Supported In This Version"}));
    EXPECT_EQ(programEnds, 0); // the program keeps running
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, true, true, true})); // never rechecked
}

TEST_F(Form1Test, PatchRomAsksOnlyWhenAPairDiffersAndBacksUpWhenOn) {
    const std::string original = cartridgeImage();
    std::string patched = original;
    patched.replace(0x1000, 7, "PATCHED");
    ApsFields otherCrc;
    otherCrc.crc2 = fromHex("00000000");
    writeFile(path("aps/crc.aps"), apsHeader(otherCrc) + copyRecord(0x1000, "PATCHED"));

    click("PatchFileList", "fix.aps");
    click("RomFileList", "game.z64");
    press(button("PatchClk"));
    EXPECT_TRUE(messages.asked.isEmpty());
    EXPECT_EQ(readFile(path("roms/game.z64")), patched);
    EXPECT_EQ(readFile(path("roms/game.z64.BAK")), original);
    EXPECT_TRUE(listed("RomFileList").contains("game.z64.BAK")); // refreshed
    EXPECT_EQ(busy.calls, (QStringList{"texts Applying APS Patch / Patching Rom Please Wait",
                                       "show", "close"}));

    // Only the CRC pair differs: No touches nothing and refreshes nothing.
    writeFile(path("roms/game.z64"), original);
    click("PatchFileList", "crc.aps");
    EXPECT_EQ(pairColours(), (std::vector<bool>{true, true, true, false}));
    QFile::remove(path("roms/game.z64.BAK"));
    messages.answer = false;
    busy.calls.clear();
    press(button("PatchClk"));
    EXPECT_EQ(messages.asked, QStringList{"MatchCheck: One Or More Values In The APS Does Not "
                                          "Match The Rom File  /n    Continue AnyWay ?"});
    EXPECT_EQ(readFile(path("roms/game.z64")), original);
    EXPECT_FALSE(QFile::exists(path("roms/game.z64.BAK")));
    EXPECT_TRUE(listed("RomFileList").contains("game.z64.BAK")); // not refreshed
    EXPECT_EQ(busy.calls.size(), 2);                             // texts set, closed, never shown

    // Yes with backups off: patched, no backup.
    messages.answer = true;
    settings.BackupOpt = kOptionOff;
    press(button("PatchClk"));
    EXPECT_EQ(readFile(path("roms/game.z64")), patched);
    EXPECT_FALSE(QFile::exists(path("roms/game.z64.BAK")));

    // A read-only image is refused before the question; a vanished folder is replaced.
    makeReadOnly(path("roms/game.z64"));
    press(button("PatchClk"));
    EXPECT_EQ(messages.shown, QStringList{"Error Openning Destination File:"});
    EXPECT_EQ(messages.asked.size(), 2);
    settings.RomDir = path("vanished");
    press(button("PatchClk"));
    EXPECT_EQ(settings.RomDir, defaultFolder());
}

// A simple APS patch, an IPS patch and an xdelta patch without checksums say
// nothing of the image they were made for: no pair is shown, and Patch Rom
// asks first.
TEST_F(Form1Test, APatchThatNamesNoImageShowsNoPairsAndPatchRomAsksFirst) {
    const std::string image = cartridgeImage();
    const struct {
        const char *file;
        std::string patch;
        const char *type;
        std::string result;
    } cases[] = {
        {"simple.aps", simpleApsHeader("Made elsewhere", 4096) + copyRecord(0x1000, "SIMPLE"),
         "Simple Patch", std::string(image).replace(0x1000, 6, "SIMPLE")}, // records from 61
        {"fix.ips", std::string("PATCH\0\x10\0\0\x03IPSEOF", 16), "IPS Patch",
         std::string(image).replace(0x1000, 3, "IPS")},
        {"plain.xdelta",
         vcdiffHeader() + vcdiffWindow({1, 4096, 0, std::string(image).replace(0, 2, "XD"), "XD",
                                        "\x03\x13" + vcdiffNumber(4094), "\x02"}),
         "xdelta (VCDIFF) Patch", std::string(image).replace(0, 2, "XD")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        writeFile(path("roms/game.z64"), image);
        writeFile(path(QStringLiteral("aps/") + c.file), c.patch);
        messages.asked.clear();
        press(button("BrowseClk1")); // cancelled: lists the new patch
        click("PatchFileList", "fix.aps");
        click("RomFileList", "game.z64");
        click("PatchFileList", c.file);
        EXPECT_EQ(text("PatchTypeTxT"), QString(c.type).leftJustified(30));
        for (const char *name : {"BackupType", "CartID", "CountryID", "PTCRC"})
            EXPECT_EQ(text(name), QString()) << name;
        EXPECT_EQ(pairColours(), (std::vector<bool>{false, false, false, false}));
        messages.answer = false;
        press(button("PatchClk"));
        EXPECT_EQ(messages.asked.size(), 1);
        EXPECT_EQ(readFile(path("roms/game.z64")), image);
        messages.answer = true;
        press(button("PatchClk"));
        EXPECT_EQ(readFile(path("roms/game.z64")), c.result);
        EXPECT_TRUE(messages.shown.isEmpty());
    }
}

TEST_F(Form1Test, ChangeFormatAndPatchRomShowTheImageAsItIsOnDiskAfterwards) {
    click("RomFileList", "game.z64");
    click("PatchFileList", "fix.aps"); // moves the current folder away
    EXPECT_EQ(pairColours(), allGreen);
    press(button("SwapCartClk"));
    EXPECT_EQ(readFile(path("roms/game.z64")), byteSwapped(cartridgeImage()));
    EXPECT_EQ(busy.calls, (QStringList{"texts Swapping Format / Swapping Byte Order Please Wait",
                                       "show", "close"}));
    // The header is read again: now byte-swapped, so the patch no longer fits
    // and "Patch Rom" asks before it writes cartridge-order records into it.
    EXPECT_EQ(text("RomFormatTxt"), QStringLiteral("Doctor v64          "));
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, true, true, true}));
    messages.answer = false;
    press(button("PatchClk"));
    EXPECT_EQ(messages.asked.size(), 1);
    EXPECT_EQ(readFile(path("roms/game.z64")), byteSwapped(cartridgeImage()));

    press(button("SwapCartClk"));
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage());
    EXPECT_EQ(pairColours(), allGreen);

    // A patch that rewrites the header's CRCs: afterwards the pair is red.
    writeFile(path("aps/crc.aps"), apsHeader() + copyRecord(0x10, "\x01\x02\x03\x04"));
    press(button("BrowseClk1")); // cancelled: lists the new patch, keeps the selection
    EXPECT_EQ(list("PatchFileList")->selectedName(), QStringLiteral("fix.aps"));
    click("PatchFileList", "crc.aps");
    press(button("PatchClk"));
    EXPECT_EQ(text("RomCRCTxt"), QStringLiteral("01020304 : FF100233"));
    EXPECT_EQ(pairColours(), (std::vector<bool>{true, true, true, false}));
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(Form1Test, BrowsingConfirmedOrCancelled) {
    QDir(dir.path()).mkdir("more");
    writeFile(path("more/x.aps"), apsHeader());
    folders.choice = path("more");
    press(button("BrowseClk1"));
    EXPECT_EQ(folders.prompts, QStringList{"Select Your APS <DIR>"});
    EXPECT_EQ(folders.starts, QStringList{path("aps")});
    EXPECT_EQ(settings.PatchDir, path("more"));
    EXPECT_EQ(listed("PatchFileList"), QStringList{"x.aps"});

    folders.choice.reset();
    click("RomFileList", "twin.V64");
    press(button("BrowseClk2"));
    EXPECT_EQ(folders.prompts.last(), QStringLiteral("Select You Rom <DIR>"));
    EXPECT_EQ(settings.RomDir, path("roms"));
    EXPECT_EQ(list("RomFileList")->folder(), path("roms"));
    EXPECT_EQ(list("RomFileList")->selectedName(), QStringLiteral("twin.V64"));
    // A new folder has nothing selected: nothing to patch or convert.
    EXPECT_FALSE(button("PatchClk")->isEnabled());
    EXPECT_EQ(list("PatchFileList")->toolTip(), path("more"));
}

TEST_F(Form1Test, ExitByMenuOrCloseBoxWritesTheSettingsOnce) {
    settings.SplashOpt = kOptionOff;
    choose("File", "Exit");
    const std::string written = readFile(path("prog/Tarnic.ini"));
    EXPECT_EQ(written, settingsFileContent(settings).toStdString());
    form.reset(); // destroying the window does not exit again
    EXPECT_EQ(programEnds, 1);

    QFile::remove(path("prog/Tarnic.ini"));
    window().show();
    window().close();
    EXPECT_EQ(readFile(path("prog/Tarnic.ini")), written);
    EXPECT_EQ(programEnds, 2);

    // A read-only settings file is reported; the program still ends.
    form.reset();
    makeReadOnly(path("prog/Tarnic.ini"));
    choose("File", "Exit");
    EXPECT_EQ(messages.shown, QStringList{"Error Writing To .Ini File"});
    EXPECT_EQ(programEnds, 3);
}

TEST_F(Form1Test, OneClickReadsAnEntryAndAClickOnTheSelectedEntryReadsItAgain) {
    writeFile(path("aps/bad.aps"), "not a patch");
    settings.PatchDir = path("aps/"); // the list's folder is what the click remembers
    list("PatchFileList")->setFolder(path("aps"));

    click("PatchFileList", "fix.aps");
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(text("CartID"), QStringLiteral("AB"));
    EXPECT_EQ(settings.PatchDir, path("aps"));
    click("RomFileList", "twin.V64");
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(text("RomFormatTxt"), QStringLiteral("Doctor v64          "));

    click("PatchFileList", "bad.aps");
    EXPECT_EQ(messages.shown, QStringList{"Not An APS File"}); // one click, one run
    click("PatchFileList", "bad.aps");
    EXPECT_EQ(messages.shown.size(), 2); // the selected entry again: run again

    // A press below the entries changes nothing.
    FileList *patches = list("PatchFileList");
    QTest::mouseClick(patches->viewport(), Qt::LeftButton, {},
                      QPoint(10, patches->viewport()->height() - 3));
    settle();
    EXPECT_EQ(messages.shown.size(), 2);
    EXPECT_EQ(patches->selectedName(), QStringLiteral("bad.aps"));
}

TEST_F(Form1Test, TheKeyboardSelectsAndReadsEntriesButFocusAloneReadsNothing) {
    writeFile(path("aps/a.aps"), "not a patch");
    writeFile(path("aps/b.aps"), "not a patch either");
    control<QPlainTextEdit>("PatchNfo")->setFocus();
    type(Qt::Key_Tab); // into the patch list, first entry current but not selected
    ASSERT_EQ(QApplication::focusWidget(), list("PatchFileList"));
    type(Qt::Key_Tab);
    type(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_TRUE(list("PatchFileList")->selectedName().isEmpty());

    type(Qt::Key_Down); // selects the first entry
    EXPECT_EQ(messages.shown, QStringList{"Not An APS File"});
    EXPECT_EQ(list("PatchFileList")->selectedName(), QStringLiteral("a.aps"));
    type(Qt::Key_Down);
    EXPECT_EQ(list("PatchFileList")->selectedName(), QStringLiteral("b.aps"));
    EXPECT_EQ(messages.shown.size(), 2);
    type(Qt::Key_Down);
    EXPECT_EQ(text("CartID"), QStringLiteral("AB")); // fix.aps read
    EXPECT_EQ(messages.shown.size(), 2);

    // Space selects the current entry of a list where nothing is selected.
    for (int i = 0; i < 3; ++i)
        type(Qt::Key_Tab); // via both Browse buttons into the image list
    ASSERT_EQ(QApplication::focusWidget(), list("RomFileList"));
    type(Qt::Key_Space);
    EXPECT_EQ(list("RomFileList")->selectedName(), QStringLiteral("game.z64"));
    EXPECT_EQ(pairColours(), allGreen);
}

TEST_F(Form1Test, PatchRomSaysWhyAPatchCannotBeAppliedAndWritesNothing) {
    click("RomFileList", "game.z64");
    // The messages of "Patch Rom" for a patch that is missing or not applicable.
    writeFile(path("aps/bad.aps"), "APS1");
    ApsFields encoded;
    encoded.encoding = 1;
    writeFile(path("aps/enc.aps"), apsHeader(encoded));
    writeFile(path("aps/gone.aps"), apsHeader());
    writeFile(path("aps/cut.aps"), left(apsHeader(), 70)); // shows whole, ends in the header
    press(button("BrowseClk1")); // cancelled: the list shows the new files
    QStringList fromPatchRom;
    for (const char *name : {"gone.aps", "cut.aps"}) {
        click("PatchFileList", name);
        QFile::remove(path("aps/gone.aps")); // gone between its click and Patch Rom
        press(button("PatchClk"));
        fromPatchRom << messages.shown.last();
    }
    EXPECT_EQ(fromPatchRom,
              (QStringList{"Error Openning Source File:", "Error Openning Source File:"}));
    // A patch refused on its click cannot be applied until another is chosen;
    // the gone one is refused on its next click.
    for (const char *name : {"bad.aps", "enc.aps", "gone.aps"}) {
        click("PatchFileList", name);
        EXPECT_FALSE(button("PatchClk")->isEnabled()) << name;
    }
    EXPECT_EQ(
        messages.shown.mid(2),
        (QStringList{"Not An APS File", "Not Supported In This Version", "Error Openning File"}));
    click("PatchFileList", "fix.aps");
    EXPECT_TRUE(button("PatchClk")->isEnabled());
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage());
    EXPECT_TRUE(messages.asked.isEmpty());
}

TEST_F(Form1Test, CaptionsShowWholeAndControlsAreNamedForScreenReaders) {
    for (QLabel *label : window().centralWidget()->findChildren<QLabel *>()) {
        if (!label->autoFillBackground()) { // a caption, in whatever face the system has
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        }
    }
    // Each value field, text box, list and button: its caption, and its frame.
    const std::tuple<const char *, const char *, const char *> spoken[] = {
        {"PatchTypeTxT", "Patch Type", "Source APS"},
        {"PatchNfo", "NFo", "Source APS"},
        {"PTCRC", "CRC Check", "Source APS"},
        {"RomCRCTxt", "CRC Check", "Destination Rom"},
        {"RomHeaderTxT", "Rom Header", "Destination Rom"},
        {"RomFileList", "Destination Rom", "Destination Rom"},
        {"PatchClk", "Patch Rom", "Destination Rom"},
    };
    for (const auto &[name, caption, frame] : spoken) {
        EXPECT_EQ(control<QWidget>(name)->accessibleName(), QLatin1String(caption));
        EXPECT_EQ(control<QWidget>(name)->accessibleDescription(), QLatin1String(frame));
    }
    Form2 settingsWindow(settings);
    EXPECT_EQ(settingsWindow.findChild<QCheckBox *>("RomBackUpClk")->accessibleName(),
              "Create Rom Backups (After APS Patch)");
}

// BPS names its source by CRC-32; xdelta proves it by the Adler-32 of what it
// makes of it. Both are shown, checked and applied alike.
TEST_F(Form1Test, APatchThatProvesItsSourceShowsGreenPairsOnItInAnotherOrderAndKeepsItsOrder) {
    const std::string source = cartridgeImage();
    std::string target = source;
    target.replace(0x800, 9, "NEW BYTES");
    const std::string rest = vcdiffNumber(source.size() - 0x809);
    const struct {
        const char *file;
        std::string patch;
        const char *type;
        const char *encoding;
    } cases[] = {
        {"hack.BPS",
         bpsPatch(source, target,
                  bpsAction(0, 0x800) + bpsAction(1, 9) + "NEW BYTES" +
                      bpsAction(2, source.size() - 0x809) + bpsMove(0x809),
                  "Translation 2.0"),
         "BPS Patch", "CRC-32 Checked"},
        {"hack.xdelta",
         vcdiffHeader(4, vcdiffNumber(22) + "^*VHJhbnNsYXRpb24gMi4w") +
             vcdiffWindow({5, source.size(), 0, target, "NEW BYTES",
                           "\x13" + vcdiffNumber(0x800) + "\x0A\x13" + rest,
                           '\0' + vcdiffNumber(0x809)}),
         "xdelta (VCDIFF) Patch", "Adler-32 Checked"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        writeFile(path("roms/twin.V64"), byteSwapped(source));
        writeFile(path(QStringLiteral("aps/") + c.file), c.patch);
        messages.shown.clear();
        press(button("BrowseClk1")); // cancelled: lists the new patch
        click("RomFileList", "twin.V64");
        click("PatchFileList", c.file);
        EXPECT_EQ(text("PatchTypeTxT"), QString(c.type).leftJustified(30));
        EXPECT_EQ(text("EncodeMethodTxt"), QString(c.encoding).leftJustified(30));
        EXPECT_EQ(control<QPlainTextEdit>("PatchNfo")->toPlainText(), "Translation 2.0");
        // The byte-swapped image is the source read in cartridge order: the
        // patch proves it, so the target fields show the image's own values.
        EXPECT_EQ(text("BackupType"), QStringLiteral("Doctor v64          "));
        EXPECT_EQ(pairColours(), allGreen);
        click("RomFileList", "game.z64");
        EXPECT_EQ(pairColours(), allGreen);
        writeFile(path("roms/other.z64"), std::string(source).replace(0x900, 1, "!"));
        press(button("BrowseClk2"));
        click("RomFileList", "other.z64");
        EXPECT_TRUE(text("BackupType").isEmpty());
        EXPECT_EQ(pairColours(), (std::vector<bool>{false, false, false, false}));
        press(button("PatchClk")); // asks nothing: the patch itself refuses
        EXPECT_TRUE(messages.asked.isEmpty());
        EXPECT_EQ(messages.shown, QStringList{"This Rom Is Not The One The Patch Was Made For"});

        click("RomFileList", "twin.V64");
        press(button("PatchClk"));
        EXPECT_EQ(readFile(path("roms/twin.V64")), byteSwapped(target)); // still Doctor v64
        EXPECT_EQ(messages.shown.size(), 1);
        press(button("PatchClk")); // the image is now the patch's result
        EXPECT_EQ(messages.shown.last(), QStringLiteral("This Rom Is Already Patched"));
    }
}

TEST_F(Form1Test, APpfBlockCheckRefusesTheImageInAnotherByteOrderBeforeAskingAnything) {
    const std::string z64 = cartridgeImage(0xA000);
    writeFile(path("roms/big.z64"), z64);
    writeFile(path("roms/big.v64"), byteSwapped(z64));
    // PPF3 with the block the cartridge-order image holds at 0x9320, and one
    // record writing "PPF" at 0x1000.
    writeFile(path("aps/fix.ppf"), "PPF30" + std::string(1, 2) + padded(std::string("Fix"), 50) +
                                       std::string("\0\1\0\0", 4) + mid(z64, 0x9320, 1024) +
                                       std::string("\0\x10\0\0\0\0\0\0\3PPF", 12));
    press(button("BrowseClk1"));
    press(button("BrowseClk2"));
    click("RomFileList", "big.v64");
    click("PatchFileList", "fix.ppf");
    EXPECT_EQ(text("EncodeMethodTxt"), QStringLiteral("Block Checked").leftJustified(30));
    press(button("PatchClk"));
    EXPECT_EQ(messages.shown,
              QStringList{"This Rom Is In Another Byte Order: Change Its Format First"});
    EXPECT_TRUE(messages.asked.isEmpty());
    EXPECT_EQ(readFile(path("roms/big.v64")), byteSwapped(z64));

    click("RomFileList", "big.z64"); // its own order: the block check proves it, nothing asked
    press(button("PatchClk"));
    EXPECT_TRUE(messages.asked.isEmpty());
    EXPECT_EQ(readFile(path("roms/big.z64")), std::string(z64).replace(0x1000, 3, "PPF"));
}

TEST_F(Form1Test, AnImageWhoseNameIsNotUtf8IsListedReadAndPatchedUnderItsOwnName) {
    // g\xff.z64 and the file its name reads as when turned into text.
    const std::filesystem::path roms = pathOf(path("roms"));
    writeFile(roms / "g\xff.z64", cartridgeImage());
    writeFile(roms / "g\xef\xbf\xbd.z64", "precious\n");
    QStringList shown = listed("RomFileList").filter(".z64");
    ASSERT_EQ(shown.size(), 3); // game.z64 and the two
    const QString own = nameText(std::filesystem::path("g\xff.z64"));
    click("PatchFileList", "fix.aps");
    click("RomFileList", own);
    EXPECT_EQ(pairColours(), allGreen);
    press(button("PatchClk"));
    std::string patched = cartridgeImage();
    patched.replace(0x1000, 7, "PATCHED");
    EXPECT_EQ(readFile(roms / "g\xff.z64"), patched);
    EXPECT_EQ(readFile(roms / "g\xff.z64.BAK"), cartridgeImage());
    EXPECT_EQ(readFile(roms / "g\xef\xbf\xbd.z64"), "precious\n");
}

TEST_F(Form1Test, YesWritesAPatchInTheByteOrderItNamesAndAPatchThatNamesNoneIsAskedAboutInWords) {
    // fix.aps is made for the cartridge-order image; its twin differs in the
    // format pair only, and Yes gives the twin the change in the twin's order.
    click("PatchFileList", "fix.aps");
    click("RomFileList", "twin.V64");
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, true, true, true}));
    press(button("PatchClk"));
    EXPECT_EQ(messages.asked, QStringList{"MatchCheck: One Or More Values In The APS Does Not "
                                          "Match The Rom File  /n    Continue AnyWay ?"});
    EXPECT_EQ(readFile(path("roms/twin.V64")),
              byteSwapped(cartridgeImage().replace(0x1000, 7, "PATCHED")));

    // An IPS patch names no byte order: for the twin the question says so.
    writeFile(path("roms/twin.V64"), byteSwapped(cartridgeImage()));
    writeFile(path("aps/fix.ips"), std::string("PATCH\0\x10\0\0\x03IPSEOF", 16));
    press(button("BrowseClk1")); // cancelled: lists the new patch
    click("PatchFileList", "fix.ips");
    click("RomFileList", "twin.V64");
    messages.asked.clear();
    messages.answer = false;
    press(button("PatchClk"));
    EXPECT_EQ(messages.asked,
              QStringList{"MatchCheck: The Patch Does Not Say Which Byte Order It Was Made For, "
                          "And This Rom Is In Doctor v64 Order. A Patch Made For CD64/Z64/Wc/SP "
                          "Needs Change Format First.  Continue AnyWay ?"});
    EXPECT_EQ(readFile(path("roms/twin.V64")), byteSwapped(cartridgeImage()));
}

namespace {

// Drops `files` on `target` at `at` as a file manager's drag does: entering,
// moving, then dropping, each through the application's event handling.
bool dropFiles(QWidget *target, const QPoint &at, const QStringList &files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return enter.isAccepted() && drop.isAccepted();
}

} // namespace

TEST_F(Form1Test, DroppedFilesAreOpenedAsTheirClicksOpenThemAndAFolderPointsItsList) {
    // Elsewhere: a patch and its image, dropped together on the window's
    // middle; the lists follow them and the pairs are coloured.
    QDir(dir.path()).mkdir("elsewhere");
    writeFile(path("elsewhere/hack.aps"), apsHeader() + copyRecord(0x1000, "PATCHED"));
    writeFile(path("elsewhere/other.z64"), cartridgeImage());
    const std::string before = readFile(path("elsewhere/other.z64"));
    Form1 &form = window();
    EXPECT_TRUE(dropFiles(&form, form.rect().center(),
                          {path("elsewhere/other.z64"), path("elsewhere/hack.aps")}));
    EXPECT_EQ(list("PatchFileList")->folder(), path("elsewhere"));
    EXPECT_EQ(list("PatchFileList")->selectedName(), "hack.aps");
    EXPECT_EQ(list("RomFileList")->selectedName(), "other.z64");
    EXPECT_EQ(text("PTCRC"), "0AB1007F : FF100233");
    EXPECT_EQ(pairColours(), allGreen);
    EXPECT_TRUE(button("PatchClk")->isEnabled());
    EXPECT_EQ(readFile(path("elsewhere/other.z64")), before); // a drop writes nothing

    // A folder dropped on the image list points that list at it.
    FileList *roms = list("RomFileList");
    EXPECT_TRUE(dropFiles(roms->viewport(), roms->viewport()->rect().center(), {path("roms")}));
    EXPECT_EQ(roms->folder(), path("roms"));
    EXPECT_EQ(settings.RomDir, path("roms"));
    // Nothing but text: not accepted.
    QMimeData words;
    words.setText("not a file");
    QDragEnterEvent enter(form.rect().center(), Qt::CopyAction, &words, Qt::LeftButton, {});
    QApplication::sendEvent(&form, &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(Form1Test, NulBytesThatPadANameOrADescriptionAreNotDrawn) {
    // This image's name is padded with NUL bytes; so is this PPF description.
    writeFile(path("roms/short.z64"),
              cartridgeImage().replace(0x20, 20, std::string("SHORT", 5) + std::string(15, '\0')));
    writeFile(path("aps/fix.ppf"), "PPF10" + std::string(1, 0) + std::string("Fix", 3) +
                                       std::string(47, '\0') + std::string("\0\x10\0\0\x01!", 6));
    press(button("BrowseClk1")); // cancelled: lists the new patch
    press(button("BrowseClk2"));
    click("RomFileList", "short.z64");
    click("PatchFileList", "fix.ppf");
    EXPECT_EQ(control<QPlainTextEdit>("RomHeaderTxT")->toPlainText(), "SHORT");
    EXPECT_EQ(control<QPlainTextEdit>("PatchNfo")->toPlainText(), "Fix");
}

TEST_F(Form1Test, ALittleEndianImageIsListedReadPatchedInItsOwnOrderAndPutInCartridgeOrder) {
    writeFile(path("roms/dump.n64"), wordsReversed(cartridgeImage()));
    press(button("BrowseClk2")); // cancelled: lists the new image
    click("PatchFileList", "fix.aps");
    click("RomFileList", "dump.n64");
    EXPECT_EQ(text("RomFormatTxt"), QStringLiteral("Little-Endian (n64)").leftJustified(20));
    EXPECT_EQ(text("RomCartIDTxT"), text("CartID"));
    EXPECT_EQ(text("RomCRCTxt"), text("PTCRC"));
    EXPECT_EQ(pairColours(), (std::vector<bool>{false, true, true, true}));
    // Yes: the patch's cartridge-order records, written in the image's order.
    press(button("PatchClk"));
    EXPECT_EQ(messages.asked.size(), 1);
    std::string patched = cartridgeImage().replace(0x1000, 7, "PATCHED");
    EXPECT_EQ(readFile(path("roms/dump.n64")), wordsReversed(patched));
    // Change Format puts it in cartridge order.
    press(button("SwapCartClk"));
    EXPECT_EQ(readFile(path("roms/dump.n64")), patched);
    EXPECT_EQ(text("RomFormatTxt"), QStringLiteral("CD64/Z64/Wc/SP").leftJustified(20));
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join(",").toStdString();
}

TEST_F(Form1Test, ALargePatchIsShownAtOnceAndItsOwnCrcCheckedByPatchRomUnderTheBusyWindow) {
    // A BPS patch of 80 MiB (mostly a hole) whose own CRC-32 is wrong: its
    // click reads its header and footer only.
    const std::string source = cartridgeImage();
    std::string patch = bpsPatch(source, source, bpsAction(0, quint64(source.size())));
    const std::string footer = right(patch, 12);
    patch.resize(patch.size() - 12);
    {
        QFile file(path("aps/huge.bps"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(qbytes(patch));
        // Metadata would be where the hole is; the actions end the file.
        ASSERT_TRUE(file.resize(80 << 20));
        file.seek(80 << 20);
        file.write(qbytes(footer));
    }
    press(button("BrowseClk1")); // cancelled: lists the new patch
    click("RomFileList", "game.z64");
    click("PatchFileList", "huge.bps");
    EXPECT_EQ(text("PatchTypeTxT"), QStringLiteral("BPS Patch").leftJustified(30));
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join(',').toStdString();
    EXPECT_TRUE(button("PatchClk")->isEnabled());
    busy.calls.clear();
    press(button("PatchClk"));
    EXPECT_EQ(messages.shown, QStringList{"The Patch Is Damaged (Its CRC-32 Is Wrong)"});
    EXPECT_EQ(busy.calls.mid(1, 1), QStringList{"show"}); // before the patch is read
    EXPECT_EQ(readFile(path("roms/game.z64")), source);

    // A small damaged one is refused on its click, and still shows how such a
    // patch checks its image.
    std::string damaged = bpsPatch(source, source, bpsAction(0, quint64(source.size())));
    damaged[damaged.size() - 1] = char(damaged[damaged.size() - 1] ^ 1);
    writeFile(path("aps/damaged.bps"), damaged);
    messages.shown.clear();
    press(button("BrowseClk1"));
    click("PatchFileList", "damaged.bps");
    EXPECT_EQ(messages.shown, QStringList{"The Patch Is Damaged (Its CRC-32 Is Wrong)"});
    EXPECT_EQ(text("EncodeMethodTxt"), QStringLiteral("CRC-32 Checked").leftJustified(30));
    EXPECT_FALSE(button("PatchClk")->isEnabled());
}

TEST_F(Form1Test, APatchThatBreaksItsRulesIsBlamedNotTheImage) {
    // An IPS patch whose one record is cut short.
    writeFile(path("aps/cut.ips"), std::string("PATCH\0\x10\0\0\x05IP", 12));
    press(button("BrowseClk1")); // cancelled: lists the new patch
    click("RomFileList", "game.z64");
    click("PatchFileList", "cut.ips");
    press(button("PatchClk"));
    EXPECT_EQ(messages.shown, QStringList{"Error Openning Source File:"});
    EXPECT_TRUE(messages.asked.isEmpty()); // refused before anything is asked
    EXPECT_EQ(readFile(path("roms/game.z64")), cartridgeImage());
}
