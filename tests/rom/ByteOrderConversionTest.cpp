#include "rom/ByteOrderConversion.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

TEST(ByteOrderConversion, ExchangesEveryPairAndKeepsAnOddLastByte) {
    TempDir dir;
    const std::string path = dir.filePath(std::string("g.v64"));
    const std::pair<std::string, std::string> cases[] = {
        {fromHex("010203040506"), fromHex("020104030605")},
        {fromHex("0102030405"), fromHex("0201040305")},
        {fromHex("3780"), fromHex("8037")},
    };
    for (const auto &[before, after] : cases) {
        writeFile(path, before);
        bool started = false;
        const ConversionResult r = swapByteOrder(path, [&] { started = true; });
        EXPECT_EQ(r.outcome, ConversionOutcome::Converted);
        EXPECT_TRUE(started);
        EXPECT_EQ(readFile(path), after);
    }

    // Larger than one piece of the stream, odd length: twice restores the file.
    const std::string image = cartridgeImage(3 * (1 << 20) + 5);
    writeFile(path, image);
    ASSERT_EQ(swapByteOrder(path).outcome, ConversionOutcome::Converted);
    EXPECT_EQ(readFile(path), byteSwapped(image));
    ASSERT_EQ(swapByteOrder(path).outcome, ConversionOutcome::Converted);
    EXPECT_EQ(readFile(path), image);
}

TEST(ByteOrderConversion, RefusesWhatItCannotConvertAndLeavesItAlone) {
    TempDir dir;
    const std::string path = dir.filePath(std::string("g.v64"));
    for (const std::string &bytes : {std::string(), std::string("A")}) {
        writeFile(path, bytes);
        bool started = false;
        EXPECT_EQ(swapByteOrder(path, [&] { started = true; }).outcome,
                  ConversionOutcome::TooShort);
        EXPECT_FALSE(started);
        EXPECT_EQ(readFile(path), bytes);
    }
    EXPECT_EQ(swapByteOrder(std::string()).outcome, ConversionOutcome::Missing);
    EXPECT_EQ(swapByteOrder(dir.filePath(std::string("gone"))).outcome, ConversionOutcome::Missing);
    EXPECT_FALSE(std::filesystem::exists(dir.filePath(std::string("gone"))));

    writeFile(path, fromHex("3780AABB"));
    makeReadOnly(path);
    EXPECT_EQ(swapByteOrder(path).outcome, ConversionOutcome::NotWritable);
    EXPECT_EQ(readFile(path), fromHex("3780AABB"));
}

TEST(ByteOrderConversion, ConvertsBetweenAnyTwoOfTheThreeOrders) {
    TempDir dir;
    const std::pair<ByteOrder, std::string> orders[] = {
        {ByteOrder::Cartridge, fromHex("8037124000010203AABBCCDD")},
        {ByteOrder::ByteSwapped, fromHex("3780401201000302BBAADDCC")},
        {ByteOrder::LittleEndian, fromHex("4012378003020100DDCCBBAA")},
    };
    const std::string path = dir.filePath(std::string("game.rom"));
    const std::string output = dir.filePath(std::string("out.rom"));
    for (const auto &[from, before] : orders) {
        for (const auto &[to, after] : orders) {
            writeFile(path, before);
            const ConversionResult r = convertImage(path, to);
            EXPECT_EQ(r.from, from);
            EXPECT_EQ(r.outcome, from == to ? ConversionOutcome::AlreadyInOrder
                                            : ConversionOutcome::Converted);
            EXPECT_EQ(readFile(path), after);

            writeFile(path, before);
            std::filesystem::remove(output);
            convertImage(path, to, output);
            EXPECT_EQ(readFile(path), before); // only read
            EXPECT_EQ(readFile(output), from == to ? std::string("<missing>") : after);
        }
    }

    // No whole number of words: v64 exchanges the last pair too, n64 keeps a
    // tail shorter than a word as z64 has it.
    const struct {
        ByteOrder to;
        const char *bytes;
    } tails[] = {{ByteOrder::LittleEndian, "40123780"
                                           "0001"},
                 {ByteOrder::ByteSwapped, "37804012"
                                          "0100"},
                 {ByteOrder::LittleEndian, "40123780"
                                           "0001"},
                 {ByteOrder::Cartridge, "80371240"
                                        "0001"}};
    writeFile(path, fromHex("803712400001"));
    for (const auto &step : tails) {
        EXPECT_EQ(convertImage(path, step.to).outcome, ConversionOutcome::Converted);
        EXPECT_EQ(toHex(readFile(path)), step.bytes);
    }
    writeFile(path, "text file");
    EXPECT_EQ(convertImage(path, ByteOrder::Cartridge).outcome, ConversionOutcome::Unrecognised);
    EXPECT_EQ(readFile(path), "text file");
}
