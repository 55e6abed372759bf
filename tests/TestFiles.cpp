#include "TestFiles.h"

#include <QFile>

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

QByteArray byteSwapped(QByteArray bytes) {
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
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

} // namespace testfiles
