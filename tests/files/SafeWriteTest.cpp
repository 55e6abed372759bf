#include "files/SafeWrite.h"
#include "QtTestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

// Failing writes, flushes, renames and links are swept by the fault matrix;
// this is the one check no failing call reaches: content of the wrong length.
TEST(SafeWrite, ContentOfAnotherLengthThanExpectedIsNeverPutInPlace) {
    QTemporaryDir dir;
    const QString path = fileWith(dir, "file.bin", "old content");
    {
        FileReplacement file(pathOf(path));
        ASSERT_TRUE(file.open() && file.write("new"));
        EXPECT_FALSE(file.finish(4));
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(readFile(path), "old content");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"file.bin"});
}
