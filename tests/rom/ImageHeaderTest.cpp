#include "rom/ImageHeader.h"

#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {
QTemporaryDir dir;
ImageInspection inspect(const QByteArray &bytes) {
    return inspectImage(pathOf(fileWith(dir, QStringLiteral("game.z64"), bytes)));
}
} // namespace

TEST(ImageHeader, CountryComesFromTheVersionByteUnlessItIsZero) {
    QByteArray image = cartridgeImage();
    image[0x3E] = 'J';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, QStringLiteral("4Ah  _Japan         "));
    image[0x3F] = 0x01; // a cartridge-order image with version 1
    EXPECT_EQ(inspect(image).display.RomCountryTxt, QStringLiteral("0x   _Unknown       "));
    image[0x3F] = 'E';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, QStringLiteral("45h  _USA           "));
}

TEST(ImageHeader, UnknownMarksShortFilesAndMissingFiles) {
    for (const QByteArray &bytes : {QByteArray::fromHex("4012") + cartridgeImage().mid(2),
                                    QByteArray("\x80", 1), QByteArray()})
        EXPECT_EQ(inspect(bytes).outcome, ImageReadOutcome::Unrecognised);
    // A recognised mark on a file shorter than the header: the rest reads as 0.
    const ImageInspection shortImage = inspect(cartridgeImage().left(0x18));
    ASSERT_EQ(shortImage.outcome, ImageReadOutcome::Shown);
    EXPECT_EQ(shortImage.display.RomCRCTxt, QStringLiteral("0AB1007F : FF100233"));
    EXPECT_EQ(shortImage.display.RomCartIDTxT, QString(2, QChar(0)));
    EXPECT_EQ(shortImage.display.RomCountryTxt, QStringLiteral("0x   _Unknown       "));

    EXPECT_EQ(inspectImage(pathOf(QString())).outcome, ImageReadOutcome::CannotOpen);
}
