#include "rom/Checksum.h"

#include "TestFiles.h"
#include "files/Hashes.h"
#include "rom/ByteOrderConversion.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnic;
using namespace testfiles;

namespace {

// The published test vector: boot code and data from two byte patterns.
std::string vectorImage() {
    std::string image(kChecksummedSize, '\0');
    for (size_t k = 0x40; k < image.size(); ++k)
        image[k] = char(k < 0x1000 ? (k * 13 + 5) & 0xFF : (k * 7 + 3) & 0xFF);
    return image;
}

// The vector as an image file: a cartridge-order mark, the rest as published
// (the header takes no part in the sum).
std::string vectorFile() {
    std::string image = vectorImage();
    image.replace(0, 4, fromHex("80371240"));
    return image;
}

} // namespace

TEST(Checksum, MatchesThePublishedVectorForEachKind) {
    const std::string image = vectorImage();
    EXPECT_EQ(toHex(tarnic::md5Of(image.data() + 0x40, 0x1000 - 0x40)),
              "f7fda2f7a52b2d447c233ce40b024ebd");
    // The same image with its first 4 KiB of summed words zero: a zero word
    // leaves the sum as it was, which must not count as a carry.
    const std::string zeroWords =
        std::string(image).replace(0x1000, 0x1000, std::string(0x1000, 0));
    const std::tuple<const std::string &, BootCode, std::uint32_t, std::uint32_t> vectors[] = {
        {image, BootCode::Cic6101, 0xF6C453DE, 0x6D3C908C},
        {image, BootCode::Cic6102, 0xF6C453DE, 0x6D3C908C},
        {image, BootCode::Cic7102, 0xF6C453DE, 0x6D3C908C},
        {image, BootCode::Cic6103, 0xA592715B, 0x6CC2672E},
        {image, BootCode::Cic6105, 0xDD10FA38, 0xF90B9C1E},
        {image, BootCode::Cic6106, 0x5141AE92, 0x66E19326},
        {zeroWords, BootCode::Cic6102, 0xF4C249D8, 0x594B724D},
        {zeroWords, BootCode::Cic6103, 0xDF906B65, 0x79F34342},
        {zeroWords, BootCode::Cic6105, 0xDB2EF032, 0xAC65C933},
        {zeroWords, BootCode::Cic6106, 0x1B4821B6, 0x9F4D8C8A},
    };
    for (const auto &[bytes, kind, crc1, crc2] : vectors) {
        EXPECT_EQ(computeChecksum(bytes.data(), kind), (HeaderChecksum{crc1, crc2}))
            << bootCodeName(kind) << (&bytes == &zeroWords ? " with zero words" : "");
    }
}

TEST(Checksum, KindsAreToldByNameAndByTheBootCodesDigest) {
    const std::pair<const char *, std::optional<BootCode>> names[] = {
        {"7101", BootCode::Cic6102},
        {"CIC-6103", BootCode::Cic6103},
        {"cic7105", BootCode::Cic6105},
        {"6104", std::nullopt},
        {"", std::nullopt},
        {"61020", std::nullopt},
    };
    for (const auto &[name, kind] : names)
        EXPECT_EQ(bootCodeNamed(name), kind) << name;
    EXPECT_EQ(bootCodeWithDigest(*bytesOfHex("e24dd796b2fa16511521139d28c8356b")),
              BootCode::Cic6102);

    TempDir dir;
    const ChecksumReport unknown = checkChecksum(fileWith(dir, "v.z64", vectorFile()));
    EXPECT_EQ(unknown.outcome, ChecksumOutcome::UnknownBootCode);
    EXPECT_FALSE(unknown.detected);
}

TEST(Checksum, FixWritesTheHeaderInTheImagesOwnOrderAndNothingElse) {
    TempDir dir;
    const std::string image = vectorFile() + std::string(4096, 'x');
    const std::string fixed = std::string(image).replace(0x10, 8, fromHex("F6C453DE6D3C908C"));
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        const auto stored = [order](std::string bytes) {
            reorderBytes(bytes.data(), bytes.size(), ByteOrder::Cartridge, order);
            return bytes;
        };
        const std::string path = fileWith(dir, "game.rom", stored(image));
        const ChecksumFix fix = fixChecksum(path, BootCode::Cic6102);
        EXPECT_EQ(fix.outcome, ChecksumFixOutcome::Written);
        EXPECT_EQ(fix.report.order, order);
        EXPECT_EQ(readFile(path), stored(fixed));
        EXPECT_EQ(fixChecksum(path, BootCode::Cic6102).outcome, ChecksumFixOutcome::AlreadyValid);
        EXPECT_TRUE(checkChecksum(path, BootCode::Cic6102).valid());
    }

    // A file with a second name is rewritten whole: the other name keeps the old bytes.
    const std::string path = fileWith(dir, "linked.z64", image);
    const std::string secondName = dir.filePath("linked.z64.BAK");
    std::filesystem::create_hard_link(path, secondName);
    EXPECT_EQ(fixChecksum(path, BootCode::Cic6102).outcome, ChecksumFixOutcome::Written);
    EXPECT_EQ(readFile(path), fixed);
    EXPECT_EQ(readFile(secondName), image);

    const std::string readOnly = fileWith(dir, "locked.z64", image);
    makeReadOnly(readOnly);
    EXPECT_EQ(fixChecksum(readOnly, BootCode::Cic6102).outcome, ChecksumFixOutcome::WriteFailed);
    EXPECT_EQ(readFile(readOnly), image);

    const std::string shortImage = fileWith(dir, "short.z64", left(image, kChecksummedSize - 1));
    EXPECT_EQ(fixChecksum(shortImage, BootCode::Cic6102).report.outcome, ChecksumOutcome::TooShort);
    EXPECT_EQ(readFile(shortImage), left(image, kChecksummedSize - 1));
}
