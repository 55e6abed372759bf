#include "rom/ImageHeader.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

namespace {
TempDir dir;
ImageInspection inspect(const std::string &bytes) {
    return inspectImage(fileWith(dir, std::string("game.z64"), bytes));
}
} // namespace

TEST(ImageHeader, CountryComesFromTheVersionByteUnlessItIsZero) {
    std::string image = cartridgeImage();
    image[0x3E] = 'J';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, std::string("4Ah  _Japan         "));
    image[0x3F] = 0x01; // a cartridge-order image with version 1
    EXPECT_EQ(inspect(image).display.RomCountryTxt, std::string("0x   _Unknown       "));
    image[0x3F] = 'E';
    EXPECT_EQ(inspect(image).display.RomCountryTxt, std::string("45h  _USA           "));
}

TEST(ImageHeader, UnknownMarksShortFilesAndMissingFiles) {
    for (const std::string &bytes :
         {fromHex("4012") + mid(cartridgeImage(), 2), std::string("\x80", 1), std::string()})
        EXPECT_EQ(inspect(bytes).outcome, ImageReadOutcome::Unrecognised);
    // A recognised mark on a file shorter than the header: the rest reads as 0.
    const ImageInspection shortImage = inspect(left(cartridgeImage(), 0x18));
    ASSERT_EQ(shortImage.outcome, ImageReadOutcome::Shown);
    EXPECT_EQ(shortImage.display.RomCRCTxt, std::string("0AB1007F : FF100233"));
    EXPECT_EQ(shortImage.display.RomCartIDTxT, std::string(2, '\0'));
    EXPECT_EQ(shortImage.display.RomCountryTxt, std::string("0x   _Unknown       "));

    EXPECT_EQ(inspectImage(std::string()).outcome, ImageReadOutcome::CannotOpen);
}
