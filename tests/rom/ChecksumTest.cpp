#include "rom/Checksum.h"

#include "TestFiles.h"
#include "rom/ByteOrderConversion.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnic;
using namespace testfiles;

namespace {

// The published test vector: boot code and data from two byte patterns.
QByteArray vectorImage() {
    QByteArray image(kChecksummedSize, '\0');
    for (qsizetype k = 0x40; k < image.size(); ++k)
        image[k] = char(k < 0x1000 ? (k * 13 + 5) & 0xFF : (k * 7 + 3) & 0xFF);
    return image;
}

// The vector as an image file: a cartridge-order mark, the rest as published
// (the header takes no part in the sum).
QByteArray vectorFile() {
    QByteArray image = vectorImage();
    image.replace(0, 4, QByteArray::fromHex("80371240"));
    return image;
}

} // namespace

TEST(Checksum, MatchesThePublishedVectorForEachKind) {
    const QByteArray image = vectorImage();
    EXPECT_EQ(
        QCryptographicHash::hash(image.mid(0x40, 0x1000 - 0x40), QCryptographicHash::Md5).toHex(),
        "f7fda2f7a52b2d447c233ce40b024ebd");
    // The same image with its first 4 KiB of summed words zero: a zero word
    // leaves the sum as it was, which must not count as a carry.
    const QByteArray zeroWords = QByteArray(image).replace(0x1000, 0x1000, QByteArray(0x1000, 0));
    const std::tuple<const QByteArray &, BootCode, std::uint32_t, std::uint32_t> vectors[] = {
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
        EXPECT_EQ(computeChecksum(bytes.constData(), kind), (HeaderChecksum{crc1, crc2}))
            << bootCodeName(kind).toStdString() << (&bytes == &zeroWords ? " with zero words" : "");
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
        EXPECT_EQ(bootCodeNamed(QString::fromLatin1(name)), kind) << name;
    EXPECT_EQ(bootCodeWithDigest(QByteArray::fromHex("e24dd796b2fa16511521139d28c8356b")),
              BootCode::Cic6102);

    QTemporaryDir dir;
    const ChecksumReport unknown = checkChecksum(pathOf(fileWith(dir, "v.z64", vectorFile())));
    EXPECT_EQ(unknown.outcome, ChecksumOutcome::UnknownBootCode);
    EXPECT_FALSE(unknown.detected);
}

TEST(Checksum, FixWritesTheHeaderInTheImagesOwnOrderAndNothingElse) {
    QTemporaryDir dir;
    const QByteArray image = vectorFile() + QByteArray(4096, 'x');
    const QByteArray fixed =
        QByteArray(image).replace(0x10, 8, QByteArray::fromHex("F6C453DE6D3C908C"));
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        const auto stored = [order](QByteArray bytes) {
            reorderBytes(bytes.data(), bytes.size(), ByteOrder::Cartridge, order);
            return bytes;
        };
        const QString path = fileWith(dir, "game.rom", stored(image));
        const ChecksumFix fix = fixChecksum(pathOf(path), BootCode::Cic6102);
        EXPECT_EQ(fix.outcome, ChecksumFixOutcome::Written);
        EXPECT_EQ(fix.report.order, order);
        EXPECT_EQ(readFile(path), stored(fixed));
        EXPECT_EQ(fixChecksum(pathOf(path), BootCode::Cic6102).outcome,
                  ChecksumFixOutcome::AlreadyValid);
        EXPECT_TRUE(checkChecksum(pathOf(path), BootCode::Cic6102).valid());
    }

    // A file with a second name is rewritten whole: the other name keeps the old bytes.
    const QString path = fileWith(dir, "linked.z64", image);
    const QString secondName = dir.filePath("linked.z64.BAK");
    std::filesystem::create_hard_link(path.toStdString(), secondName.toStdString());
    EXPECT_EQ(fixChecksum(pathOf(path), BootCode::Cic6102).outcome, ChecksumFixOutcome::Written);
    EXPECT_EQ(readFile(path), fixed);
    EXPECT_EQ(readFile(secondName), image);

    const QString readOnly = fileWith(dir, "locked.z64", image);
    makeReadOnly(readOnly);
    EXPECT_EQ(fixChecksum(pathOf(readOnly), BootCode::Cic6102).outcome,
              ChecksumFixOutcome::WriteFailed);
    EXPECT_EQ(readFile(readOnly), image);

    const QString shortImage = fileWith(dir, "short.z64", image.left(kChecksummedSize - 1));
    EXPECT_EQ(fixChecksum(pathOf(shortImage), BootCode::Cic6102).report.outcome,
              ChecksumOutcome::TooShort);
    EXPECT_EQ(readFile(shortImage), image.left(kChecksummedSize - 1));
}
