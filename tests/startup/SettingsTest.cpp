#include "startup/Settings.h"

#include "QtTestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {
Settings windowsDefaults() {
    Settings s;
    s.PatchDir = s.RomDir = QStringLiteral("C:\\");
    return s;
}
} // namespace

TEST(SettingsFile, WritesFourCrLfLinesAndReadsThemBackUnchanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath(kSettingsFileName);
    ASSERT_TRUE(writeSettingsFile(path, windowsDefaults()));
    EXPECT_EQ(readFile(path), std::string("\"C:\\\"\r\n\"C:\\\"\r\n0\r\n0\r\n"));
    EXPECT_EQ(readFile(path).size(), 20);

    Settings odd;
    odd.PatchDir = QStringLiteral("/home/me/patches, v2/");
    odd.RomDir = QStringLiteral("D:\\Roms\\Jap\u00E4n\\");
    odd.SplashOpt = 1;
    odd.BackupOpt = 2;
    ASSERT_TRUE(writeSettingsFile(path, odd));
    Settings back;
    back.PatchDir = back.RomDir = QStringLiteral("x");
    EXPECT_EQ(readSettingsFile(path, back), 4);
    EXPECT_EQ(back.PatchDir, odd.PatchDir);
    EXPECT_EQ(back.RomDir, odd.RomDir);
    EXPECT_EQ(back.SplashOpt, 1);
    EXPECT_EQ(back.BackupOpt, 2);
    ASSERT_TRUE(writeSettingsFile(path, back));
    EXPECT_EQ(readFile(path), settingsFileContent(odd).toStdString());
}

TEST(SettingsFile, APartialOrOddFileKeepsWhatWasReadAndDefaultsTheRest) {
    QTemporaryDir dir;
    const QString path = dir.filePath(kSettingsFileName);
    const Settings defaults;
    struct Case {
        std::string content;
        int fieldsRead;
        QString patchDir, romDir;
        qint16 splash, backup;
    };
    const Case cases[] = {
        {"\"/a\"\r\n\"/b\"\r\n", 2, "/a", "/b", 0, 0},
        {"\"/a\"\r\n", 1, "/a", defaults.RomDir, 0, 0},
        {"/a,/b\n1\n", 3, "/a", "/b", 1, 0},
        {"\"/a\"\r\n\"/b\"\r\n  1 \r\nyes\r\n", 4, "/a", "/b", 1, kOptionUnreadable},
        {"", 0, defaults.PatchDir, defaults.RomDir, 0, 0},
        {"\xEF\xBB\xBF\"/a\"\r\n", 1, "/a", defaults.RomDir, 0, 0},
    };
    for (const Case &c : cases) {
        writeFile(path, c.content);
        Settings s;
        EXPECT_EQ(readSettingsFile(path, s), c.fieldsRead) << c.content.data();
        EXPECT_EQ(s.PatchDir, c.patchDir);
        EXPECT_EQ(s.RomDir, c.romDir);
        EXPECT_EQ(s.SplashOpt, c.splash);
        EXPECT_EQ(s.BackupOpt, c.backup);
    }
    Settings untouched;
    EXPECT_EQ(readSettingsFile(dir.filePath("none.ini"), untouched), 0);
    EXPECT_EQ(untouched.PatchDir, defaults.PatchDir);
}

namespace {
const QString kId = QStringLiteral("org.example.Tarnic");
} // namespace

TEST(SettingsFile, AnInstalledCopyKeepsItsFileInTheUsersConfigurationFolder) {
    QTemporaryDir program;
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnic"));
    const QString beside = QDir(program.path()).filePath(kSettingsFileName);
    EXPECT_EQ(settingsFilePath(program.path(), kId), beside);

    // The program folder cannot be written: an installed copy.
    QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString installed = settingsFilePath(program.path(), kId);
    EXPECT_EQ(installed, QDir(home.path()).filePath(QStringLiteral("Tarnic/Tarnic.ini")));
    Settings written = windowsDefaults();
    written.BackupOpt = kOptionOff;
    ASSERT_TRUE(writeSettingsFile(installed, written));
    Settings read;
    EXPECT_EQ(readSettingsFile(installed, read), 4);
    EXPECT_EQ(read.BackupOpt, kOptionOff);
    EXPECT_FALSE(QFile::exists(beside));

    // A file already beside the program stays where it is.
    QFile::setPermissions(program.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(beside, "");
    QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(settingsFilePath(program.path(), kId), beside);
    QFile::setPermissions(program.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(SettingsFile, AnInstalledCopyRunByTheAdministratorDoesNotWriteIntoItsProgramFolder) {
    // <prefix>/bin, writable (as /usr/bin is for root), beside
    // <prefix>/share/applications/<id>.desktop.
    QTemporaryDir prefix;
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnic"));
    QDir(prefix.path()).mkpath("bin");
    QDir(prefix.path()).mkpath("share/applications");
    const QString bin = QDir(prefix.path()).filePath("bin");
    EXPECT_EQ(settingsFilePath(bin, kId), QDir(bin).filePath(kSettingsFileName)); // not yet
    writeFile(QDir(prefix.path()).filePath("share/applications/" + kId + ".desktop"), "");
    EXPECT_EQ(settingsFilePath(bin, kId), QDir(home.path()).filePath("Tarnic/Tarnic.ini"));
}
