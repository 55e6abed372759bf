#include "rom/ImageHeader.h"

#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {

class ImageHeaderTest : public ::testing::Test {
protected:
    ImageInspection inspect(const QByteArray &bytes)
    {
        const QString path = dir.filePath(QStringLiteral("game.z64"));
        writeFile(path, bytes);
        return inspectImage(path);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ImageHeaderTest, BothByteOrdersShowTheSameCartridgeOrderTexts)
{
    const ImageInspection cartridge = inspect(cartridgeImage());
    const ImageInspection swapped = inspect(byteSwapped(cartridgeImage()));
    ASSERT_EQ(cartridge.outcome, ImageReadOutcome::Shown);
    ASSERT_EQ(swapped.outcome, ImageReadOutcome::Shown);

    EXPECT_EQ(cartridge.display.RomFormatTxt, ImageFormatNames[1]);
    EXPECT_EQ(swapped.display.RomFormatTxt, ImageFormatNames[0]);
    for (const ImageInspection *r : {&cartridge, &swapped}) {
        EXPECT_EQ(r->display.RomCRCTxt, QStringLiteral("0AB1007F : FF100233"));
        EXPECT_EQ(r->display.RomHeaderTxT, QStringLiteral("TARNIC TEST IMAGE   "));
        EXPECT_EQ(r->display.RomCartIDTxT, QStringLiteral("AB"));
        EXPECT_EQ(r->display.RomCountryTxt, CountryNames[1]);
    }
    EXPECT_EQ(swapped.header.CartIdRaw, QStringLiteral("BA")); // as stored
}

TEST_F(ImageHeaderTest, CountryComesFromTheVersionByteUnlessItIsZero)
{
    QByteArray image = cartridgeImage();
    image[0x3E] = 'J';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, QStringLiteral("4Ah  _Japan         "));
    image[0x3F] = 0x01; // a cartridge-order image with version 1
    EXPECT_EQ(inspect(image).display.RomCountryTxt, CountryNames[5]);
    image[0x3F] = 'E';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, CountryNames[1]);
}

TEST_F(ImageHeaderTest, UnknownMarksShortFilesAndMissingFiles)
{
    for (const QByteArray &bytes :
         {QByteArray::fromHex("4012") + cartridgeImage().mid(2), QByteArray("plain text file"),
          QByteArray("\x80", 1), QByteArray()}) {
        const ImageInspection r = inspect(bytes);
        EXPECT_EQ(r.outcome, ImageReadOutcome::Unrecognised);
        EXPECT_TRUE(r.display.RomFormatTxt.isEmpty());
    }
    // A recognised mark on a file shorter than the header: the rest reads as 0.
    const ImageInspection shortImage = inspect(cartridgeImage().left(0x18));
    ASSERT_EQ(shortImage.outcome, ImageReadOutcome::Shown);
    EXPECT_EQ(shortImage.display.RomCRCTxt, QStringLiteral("0AB1007F : FF100233"));
    EXPECT_EQ(shortImage.display.RomCartIDTxT, QString(2, QChar(0)));
    EXPECT_EQ(shortImage.display.RomCountryTxt, CountryNames[5]);

    EXPECT_EQ(inspectImage(dir.filePath(QStringLiteral("none.z64"))).outcome,
              ImageReadOutcome::CannotOpen);
    EXPECT_EQ(inspectImage(QString()).outcome, ImageReadOutcome::CannotOpen);
}

TEST(BackupNames, OnlyExactUpperOrLowerCaseCounts)
{
    EXPECT_TRUE(isBackupName(QStringLiteral("game.z64.BAK")));
    EXPECT_TRUE(isBackupName(QStringLiteral("game.bak")));
    EXPECT_TRUE(isBackupName(QStringLiteral(".bak")));
    EXPECT_FALSE(isBackupName(QStringLiteral("game.Bak")));
    EXPECT_FALSE(isBackupName(QStringLiteral("game.z64")));
    EXPECT_FALSE(isBackupName(QStringLiteral("bak")));
}
