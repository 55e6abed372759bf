#include "FileList.h"
#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "Form4.h"

#include "Fakes.h"
#include "QtTestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class StartupTest : public ::testing::Test {
  protected:
    // Starts the program with `ini` as its settings file (none when null).
    Module1 &start(const char *ini) {
        if (ini)
            writeFile(dir.filePath("Tarnic.ini"), replaced(ini, "$DIR", dir.path().toStdString()));
        ProgramServices services{messages, folders, dir.path(), dir.filePath("Tarnic.ini"),
                                 &busy,    [] {}};
        program = std::make_unique<Module1>(services, wait);
        program->Main();
        return *program;
    }
    // The program's windows, found as a user sees them: on the screen (or
    // created hidden), by their names.
    template <typename T> static T *topLevel() {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (T *found = qobject_cast<T *>(w))
                return found;
        }
        return nullptr;
    }
    static QCheckBox *box(QWidget *window, const char *name) {
        return window->findChild<QCheckBox *>(QLatin1String(name));
    }
    bool checked(const char *name) { return box(topLevel<Form2>(), name)->isChecked(); }
    QString patchFolder() {
        return topLevel<Form1>()->findChild<FileList *>("PatchFileList")->folder();
    }

    QTemporaryDir dir;
    fakes::Messages messages;
    fakes::Folders folders;
    fakes::Busy busy;
    fakes::Wait wait;
    std::unique_ptr<Module1> program;
};

} // namespace

TEST_F(StartupTest, FirstRunShowsTheSplashAndUsesDefaults) {
    Module1 &p = start(nullptr);
    EXPECT_EQ(wait.waits, std::vector<std::chrono::milliseconds>{std::chrono::seconds(4)});
    EXPECT_TRUE(wait.splashShownMeanwhile);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<Form3 *>(w) && w->isVisible());
    EXPECT_EQ(p.settings.PatchDir, defaultFolder());
    EXPECT_TRUE(checked("SplashScreen"));
    EXPECT_TRUE(checked("RomBackUpClk"));
    EXPECT_FALSE(topLevel<Form2>()->isVisible());
    EXPECT_EQ(patchFolder(), defaultFolder());
}

TEST_F(StartupTest, OptionsFromTheFileDecideSplashAndBoxes) {
    Module1 &p = start("\"$DIR\"\r\n\"$DIR/gone\"\r\n1\r\n1\r\n");
    EXPECT_TRUE(wait.waits.empty());
    EXPECT_FALSE(checked("SplashScreen"));
    EXPECT_FALSE(checked("RomBackUpClk"));
    EXPECT_EQ(p.settings.PatchDir, dir.path());
    EXPECT_EQ(p.settings.RomDir, defaultFolder()); // vanished since the last run
    EXPECT_EQ(p.settings.SplashOpt, 1);

    program.reset();
    start("\"$DIR\"\r\n\"$DIR\"\r\n2\r\n2\r\n");
    EXPECT_EQ(wait.waits.size(), 1u); // only exactly 1 skips the splash
    EXPECT_FALSE(checked("SplashScreen"));
    EXPECT_EQ(program->settings.SplashOpt, 2);
}

TEST_F(StartupTest, SettingsWindowWritesOptionsOnClickOnly) {
    Settings settings;
    settings.BackupOpt = 2;
    Form2 window(settings);
    QCheckBox *backups = box(&window, "RomBackUpClk");
    EXPECT_FALSE(backups->isChecked());
    backups->setChecked(true); // from the program: the option stays
    EXPECT_EQ(settings.BackupOpt, 2);
    backups->click();
    EXPECT_EQ(settings.BackupOpt, 1);
    backups->click();
    EXPECT_EQ(settings.BackupOpt, 0);
    box(&window, "SplashScreen")->click();
    EXPECT_EQ(settings.SplashOpt, 1);
}

TEST_F(StartupTest, ReopeningTheSettingsWindowShowsTheCurrentOptions) {
    Module1 &p = start(nullptr);
    QStringList seen;
    for (int showing = 0; showing < 2; ++showing) {
        QTimer::singleShot(0, [&] {
            auto *shown = qobject_cast<Form2 *>(QApplication::activeModalWidget());
            ASSERT_NE(shown, nullptr);
            seen << (box(shown, "SplashScreen")->isChecked() ? "on" : "off");
            box(shown, "SplashScreen")->click();
            shown->close();
        });
        topLevel<Form1>()->findChild<QAction *>("Settings")->trigger();
    }
    EXPECT_EQ(seen, (QStringList{"on", "off"}));
    EXPECT_EQ(p.settings.SplashOpt, kOptionOn);
}

TEST_F(StartupTest, ARelativeFolderInTheFileIsTakenFromTheProgramFolder) {
    QDir(dir.path()).mkpath("data/aps");
    writeFile(dir.filePath("data/aps/fix.aps"), apsHeader());
    Module1 &p = start("\"data/aps\"\r\n\"../gone\"\r\n1\r\n0\r\n");
    EXPECT_EQ(p.settings.PatchDir, dir.filePath("data/aps"));
    EXPECT_EQ(patchFolder(), dir.filePath("data/aps"));
    EXPECT_EQ(p.settings.RomDir, defaultFolder());
}

TEST_F(StartupTest, TheBusyWindowIsOnScreenWithItsTextBeforeTheWorkAndThePictureHasNoTitle) {
    Form4 busyWindow;
    busyWindow.setTexts(QStringLiteral("Applying APS Patch"),
                        QStringLiteral("Patching Rom Please Wait"));
    busyWindow.showAndPaint();
    ASSERT_NE(busyWindow.windowHandle(), nullptr);
    EXPECT_TRUE(busyWindow.windowHandle()->isExposed());
    EXPECT_EQ(busyWindow.windowTitle(), QStringLiteral("Applying APS Patch"));
    EXPECT_EQ(busyWindow.findChild<QLabel *>("Label1")->text(),
              QStringLiteral("Patching Rom Please Wait"));
    busyWindow.closeWindow();
    EXPECT_FALSE(busyWindow.isVisible());

    Form3 picture;
    EXPECT_FALSE(picture.windowTitle().isEmpty()); // left empty, Qt would show a name
    EXPECT_TRUE(picture.windowTitle().trimmed().isEmpty());
}

TEST_F(StartupTest, FilesGivenAtStartAreOpenedOnceTheWindowIsUpAndAnUnreadableOneGetsItsMessage) {
    // What the program does with its command line's files: the window comes
    // up as ever, then they are opened as clicks would open them.
    QDir(dir.path()).mkdir("given");
    const QString patch = dir.filePath("given/hack.aps");
    writeFile(patch, apsHeader() + copyRecord(0x1000, "PATCHED"));
    writeFile(dir.filePath("given/game.z64"), cartridgeImage());
    Module1 &p = start("\"$DIR\"\r\n\"$DIR\"\r\n1\r\n0\r\n");
    p.openFiles({pathOf(patch), pathOf(dir.filePath("given/game.z64"))});
    Form1 *form = topLevel<Form1>();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(patchFolder(), dir.filePath("given"));
    EXPECT_EQ(form->findChild<FileList *>("PatchFileList")->selectedName(), "hack.aps");
    EXPECT_EQ(form->findChild<FileList *>("RomFileList")->selectedName(), "game.z64");
    EXPECT_EQ(form->findChild<QLabel *>("CartID")->text(), "AB");
    EXPECT_TRUE(messages.shown.isEmpty());
    // A patch that cannot be read is still taken for a patch by its name, and
    // gets the message its click gives.
    p.openFiles({pathOf(dir.filePath("given/missing.aps"))});
    EXPECT_EQ(messages.shown, QStringList{"Error Openning File"});
    EXPECT_EQ(form->findChild<FileList *>("RomFileList")->folder(), dir.filePath("given"));
}
