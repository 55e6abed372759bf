#include "files/FileReader.h"
#include "io/Reader.h"
#include "io/Writer.h"
#include "strings/Strings.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tarnic;
using namespace testfiles;

namespace {

// The same content through memory and through a file: every read in order,
// small and large, across the reader's buffer and after seeks, gives the
// content's bytes, and reading stops at its end.
TEST(Reader, ReadsInOrderAndByPositionWhateverTheContentIsIn) {
    const std::string content = randomBytes(300000, 5);
    TempDir dir;
    const std::filesystem::path file = fileWith(dir, "content.bin", content);
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        MemoryReader memory(content);
        FileReader disk;
        ASSERT_TRUE(disk.open(file));
        Reader &reader = fromFile ? static_cast<Reader &>(disk) : memory;
        ASSERT_EQ(reader.size(), std::int64_t(content.size()));

        std::string read;
        for (const std::int64_t piece : {1, 7, 65535, 3, 100000, 65536, 1, 200000}) {
            const std::string got = reader.read(piece);
            EXPECT_EQ(got, content.substr(read.size(), size_t(piece)));
            read += got;
        }
        EXPECT_EQ(read, content);
        EXPECT_TRUE(reader.atEnd());
        char c;
        EXPECT_FALSE(reader.getChar(&c));

        // Back into what the buffer held, then past it.
        ASSERT_TRUE(reader.seek(299990));
        EXPECT_EQ(reader.read(100), content.substr(299990));
        ASSERT_TRUE(reader.seek(12));
        ASSERT_TRUE(reader.getChar(&c));
        EXPECT_EQ(c, content[12]);
        EXPECT_EQ(reader.pos(), 13);
        EXPECT_FALSE(reader.seek(-1));

        std::string at(10, '\0');
        EXPECT_EQ(reader.readAt(299995, at.data(), 10), 5);
        const char *mapped = reader.map(1000, 5000);
        ASSERT_NE(mapped, nullptr);
        EXPECT_EQ(std::string(mapped, 5000), content.substr(1000, 5000));
        EXPECT_EQ(reader.map(299000, 2000), nullptr); // not all there
    }
}

TEST(Writer, MemoryKeepsWhatWasWrittenGapsAsZerosAndItsFirstFailure) {
    MemoryWriter writer;
    ASSERT_TRUE(writer.write("head"));
    ASSERT_TRUE(writer.writeAt(8, "tail", 4));
    ASSERT_TRUE(writer.write("!")); // after the furthest byte
    EXPECT_EQ(writer.bytes(), std::string("head\0\0\0\0tail!", 13));
    std::string back(4, '\0');
    ASSERT_TRUE(writer.readAt(8, back.data(), 4));
    EXPECT_EQ(back, "tail");
    EXPECT_TRUE(writer.finish(13));

    EXPECT_FALSE(writer.finish(14));
    writer.fail("a later reason");
    EXPECT_EQ(writer.errorString(), "the content has 13 bytes instead of 14");
    EXPECT_FALSE(writer.write("more"));
    EXPECT_FALSE(writer.finish(13));
}

// Cartridge names, patch descriptions and the like are Latin-1 in the files
// and UTF-8 in the program: every byte goes there and back, and a text with a
// character Latin-1 has not is refused rather than changed.
TEST(Strings, Latin1TextsGoToUtf8AndBackAndWidthsCountCharacters) {
    std::string every;
    for (int byte = 0; byte < 256; ++byte)
        every += char(byte);
    const std::string text = latin1ToUtf8(every);
    EXPECT_EQ(characterCount(text), 256u);
    EXPECT_EQ(utf8ToLatin1(text), every);
    EXPECT_EQ(utf8ToLatin1("\xE2\x9C\x93"), std::nullopt); // a check mark
    EXPECT_EQ(utf8ToLatin1("\xE9"), std::nullopt);         // not UTF-8
    EXPECT_EQ(padRight("\xC3\xA9t\xC3\xA9", 5), "\xC3\xA9t\xC3\xA9  ");
    EXPECT_EQ(upperHex(0xAB, 4), "00AB");
    EXPECT_EQ(bytesOfHex("0aFf"), std::string("\x0A\xFF"));
    EXPECT_EQ(bytesOfHex("0g"), std::nullopt);
    EXPECT_TRUE(isUtf8Text("<title>\xC3\xA9t\xC3\xA9 \xE2\x9C\x93</title>\r\n\t"));
    // Latin-1, a NUL, an overlong '/', a surrogate, a cut character, an escape.
    for (const std::string &binary :
         {std::string("\xE9t\xE9"), std::string("a\0b", 3), std::string("\xC0\xAF"),
          std::string("\xED\xA0\x80"), std::string("\xE2\x9C"), std::string("\x1B[0m")})
        EXPECT_FALSE(isUtf8Text(binary)) << toHex(binary);
}

} // namespace
