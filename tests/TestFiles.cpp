#include "TestFiles.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

namespace testfiles {

namespace {
QByteArray littleEndian(std::int32_t value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((std::uint32_t(value) >> (8 * i)) & 0xFF);
    return bytes;
}
} // namespace

QByteArray apsHeader(const ApsFields &f) {
    QByteArray h = f.magic;
    h += char(f.type);
    h += char(f.encoding);
    h += f.description;
    h += char(f.target);
    h += f.cartId;
    h += char(f.country);
    h += f.crc1;
    h += f.crc2;
    h += QByteArray(5, '\0');    // reserved
    h += littleEndian(0x400000); // image size, never used
    return h;
}

QByteArray simpleApsHeader(const QByteArray &description, std::uint32_t imageSize) {
    return QByteArray("APS10") + '\0' + '\0' + description.leftJustified(50, ' ') +
           littleEndian(std::int32_t(imageSize));
}

QByteArray copyRecord(std::int32_t offset, const QByteArray &data) {
    return littleEndian(offset) + char(data.size()) + data;
}

QByteArray runRecord(std::int32_t offset, std::uint8_t value, std::uint8_t count) {
    return littleEndian(offset) + '\0' + char(value) + char(count);
}

QByteArray cartridgeImage(qsizetype size) {
    QByteArray image(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    image.replace(0, 4, QByteArray::fromHex("80371240"));
    image.replace(0x10, 8, QByteArray::fromHex("0AB1007FFF100233"));
    image.replace(0x20, 20, QByteArray("TARNIC TEST IMAGE   "));
    image.replace(0x3C, 4, QByteArray("ABE\0", 4));
    return image;
}

namespace {
QByteArray littleEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}
quint32 zlibCrc(const QByteArray &bytes) {
    return quint32(
        ::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}
} // namespace

QByteArray bpsNumber(quint64 value) {
    QByteArray bytes;
    while (value >= 0x80) {
        bytes += char(value & 0x7F);
        value = (value >> 7) - 1;
    }
    return bytes + char(value | 0x80);
}

QByteArray bpsAction(int command, quint64 length) {
    return bpsNumber(((length - 1) << 2) | quint64(command));
}

QByteArray bpsMove(qint64 delta) {
    return bpsNumber(quint64(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0));
}

QByteArray withBpsPatchCrc(QByteArray patch) {
    patch.chop(4);
    return patch + littleEndian32(zlibCrc(patch));
}

QByteArray bpsPatch(const QByteArray &source, const QByteArray &target, const QByteArray &actions,
                    const QByteArray &metadata) {
    const QByteArray patch = "BPS1" + bpsNumber(quint64(source.size())) +
                             bpsNumber(quint64(target.size())) +
                             bpsNumber(quint64(metadata.size())) + metadata + actions +
                             littleEndian32(zlibCrc(source)) + littleEndian32(zlibCrc(target));
    return withBpsPatchCrc(patch + "CRC!");
}

QByteArray upsPatch(const QByteArray &input, const QByteArray &output, const QByteArray &hunks) {
    const QByteArray patch = "UPS1" + bpsNumber(quint64(input.size())) +
                             bpsNumber(quint64(output.size())) + hunks +
                             littleEndian32(zlibCrc(input)) + littleEndian32(zlibCrc(output));
    return withBpsPatchCrc(patch + "CRC!");
}

QByteArray upsXor(const QByteArray &from, const QByteArray &to) {
    QByteArray bytes;
    for (qsizetype i = 0; i < to.size(); ++i)
        bytes += char((i < from.size() ? from[i] : 0) ^ to[i]);
    return bytes + '\0';
}

QByteArray randomBytes(qsizetype size, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = char(random());
    return bytes;
}

QByteArray byteSwapped(QByteArray bytes) {
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

QByteArray wordsReversed(QByteArray bytes) {
    for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4)
        std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString fileWith(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void makeReadOnly(const QString &path) {
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
}

// By the path's own bytes, which need not be UTF-8.
void writeFile(const std::filesystem::path &path, const QByteArray &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file.write(bytes.constData(), bytes.size())) << path;
}

QByteArray readFile(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "<missing>";
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    return QByteArray::fromStdString(bytes);
}

void makeReadOnly(const std::filesystem::path &path) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read);
}

} // namespace testfiles
