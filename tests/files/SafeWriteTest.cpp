#include "files/SafeWrite.h"
#include "FailingCalls.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

TEST(SafeWrite, AReplacementIsInPlaceOnlyWhenCompleteAndOnDisk) {
    QTemporaryDir dir;
    const QString path = fileWith(dir, "file.bin", "old content");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup);

    // A failed flush to disk is a failure, whatever else went well.
    failing::failNth(failing::Call::Fdatasync, 1);
    EXPECT_FALSE(replaceFileContent(path, "new content"));
    failing::failNth(failing::Call::Count, 0);
    EXPECT_EQ(readFile(path), QByteArray("old content"));

    {
        FileReplacement file(path);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("new"));
        EXPECT_FALSE(file.finish(4)); // shorter than expected: never put in place
        EXPECT_FALSE(file.commit());
    }
    {
        FileReplacement file(path);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("new") && file.writeAt(6, "end", 3));
        ASSERT_TRUE(file.finish(9));
        EXPECT_EQ(readFile(path), QByteArray("old content")); // not yet
        ASSERT_TRUE(file.commit());
    }
    EXPECT_EQ(readFile(path), QByteArray("new\0\0\0end", 9));
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7077, // owner, group and others
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"file.bin"});
}

TEST(SafeWrite, ABackupIsItsOwnFileAfterAFailedReplacement) {
    QTemporaryDir dir;
    const QString image = fileWith(dir, "game.z64", "old image");
    const QString backup = image + ".BAK";
    ASSERT_TRUE(keepAsBackup(image, backup));
    ASSERT_TRUE(keepAsBackup(image, backup)); // already a second name: nothing to do
    separateBackup(image, backup);
    writeFile(image, "changed in place");
    EXPECT_EQ(readFile(backup), QByteArray("old image"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"game.z64", "game.z64.BAK"}));
}
