#include "rom/ByteOrderConversion.h"

#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarnic;
using namespace testfiles;

TEST(ByteOrderConversion, ExchangesEveryPairAndKeepsAnOddLastByte) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("g.v64"));
    const std::pair<QByteArray, QByteArray> cases[] = {
        {QByteArray::fromHex("010203040506"), QByteArray::fromHex("020104030605")},
        {QByteArray::fromHex("0102030405"), QByteArray::fromHex("0201040305")},
        {QByteArray::fromHex("3780"), QByteArray::fromHex("8037")},
    };
    for (const auto &[before, after] : cases) {
        writeFile(path, before);
        bool started = false;
        const ConversionResult r = swapByteOrder(pathOf(path), [&] { started = true; });
        EXPECT_EQ(r.outcome, ConversionOutcome::Converted);
        EXPECT_TRUE(started);
        EXPECT_EQ(readFile(path), after);
    }

    // Larger than one piece of the stream, odd length: twice restores the file.
    const QByteArray image = cartridgeImage(3 * (1 << 20) + 5);
    writeFile(path, image);
    ASSERT_EQ(swapByteOrder(pathOf(path)).outcome, ConversionOutcome::Converted);
    EXPECT_EQ(readFile(path), byteSwapped(image));
    ASSERT_EQ(swapByteOrder(pathOf(path)).outcome, ConversionOutcome::Converted);
    EXPECT_EQ(readFile(path), image);
}

TEST(ByteOrderConversion, RefusesWhatItCannotConvertAndLeavesItAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("g.v64"));
    for (const QByteArray &bytes : {QByteArray(), QByteArray("A")}) {
        writeFile(path, bytes);
        bool started = false;
        EXPECT_EQ(swapByteOrder(pathOf(path), [&] { started = true; }).outcome,
                  ConversionOutcome::TooShort);
        EXPECT_FALSE(started);
        EXPECT_EQ(readFile(path), bytes);
    }
    EXPECT_EQ(swapByteOrder(pathOf(QString())).outcome, ConversionOutcome::Missing);
    EXPECT_EQ(swapByteOrder(pathOf(dir.filePath(QStringLiteral("gone")))).outcome,
              ConversionOutcome::Missing);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("gone"))));

    writeFile(path, QByteArray::fromHex("3780AABB"));
    makeReadOnly(path);
    EXPECT_EQ(swapByteOrder(pathOf(path)).outcome, ConversionOutcome::NotWritable);
    EXPECT_EQ(readFile(path), QByteArray::fromHex("3780AABB"));
}

TEST(ByteOrderConversion, ConvertsBetweenAnyTwoOfTheThreeOrders) {
    QTemporaryDir dir;
    const std::pair<ByteOrder, QByteArray> orders[] = {
        {ByteOrder::Cartridge, QByteArray::fromHex("8037124000010203AABBCCDD")},
        {ByteOrder::ByteSwapped, QByteArray::fromHex("3780401201000302BBAADDCC")},
        {ByteOrder::LittleEndian, QByteArray::fromHex("4012378003020100DDCCBBAA")},
    };
    const QString path = dir.filePath(QStringLiteral("game.rom"));
    const QString output = dir.filePath(QStringLiteral("out.rom"));
    for (const auto &[from, before] : orders) {
        for (const auto &[to, after] : orders) {
            writeFile(path, before);
            const ConversionResult r = convertImage(pathOf(path), to);
            EXPECT_EQ(r.from, from);
            EXPECT_EQ(r.outcome, from == to ? ConversionOutcome::AlreadyInOrder
                                            : ConversionOutcome::Converted);
            EXPECT_EQ(readFile(path), after);

            writeFile(path, before);
            QFile::remove(output);
            convertImage(pathOf(path), to, pathOf(output));
            EXPECT_EQ(readFile(path), before); // only read
            EXPECT_EQ(readFile(output), from == to ? QByteArray("<missing>") : after);
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
    writeFile(path, QByteArray::fromHex("803712400001"));
    for (const auto &step : tails) {
        EXPECT_EQ(convertImage(pathOf(path), step.to).outcome, ConversionOutcome::Converted);
        EXPECT_EQ(readFile(path).toHex(), step.bytes);
    }
    writeFile(path, "text file");
    EXPECT_EQ(convertImage(pathOf(path), ByteOrder::Cartridge).outcome,
              ConversionOutcome::Unrecognised);
    EXPECT_EQ(readFile(path), "text file");
}
