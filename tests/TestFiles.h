#pragma once
// Patches and images built byte by byte for the tests, and small file helpers.

#include "files/PathText.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace testfiles {

using tarnic::nameText;
using tarnic::pathOf;

// The fields of an APS header; the defaults describe a patch made for
// cartridgeImage() below.
struct ApsFields {
    QByteArray magic = "APS10";
    std::uint8_t type = 1;
    std::uint8_t encoding = 0;
    QByteArray description = QByteArray("Fan translation 1.0").leftJustified(50, ' ');
    std::uint8_t target = 1;
    QByteArray cartId = "AB";
    std::uint8_t country = 'E';
    QByteArray crc1 = QByteArray::fromHex("0AB1007F");
    QByteArray crc2 = QByteArray::fromHex("FF100233");
};

QByteArray apsHeader(const ApsFields &fields = {});
// The 61-byte header of a simple patch (type 0) as other patchers write it:
// magic, type 0, encoding, description, image size; no N64 block.
QByteArray simpleApsHeader(const QByteArray &description, std::uint32_t imageSize);
QByteArray copyRecord(std::int32_t offset, const QByteArray &data);
QByteArray runRecord(std::int32_t offset, std::uint8_t value, std::uint8_t count);

// A BPS patch turning `source` into `target` by `actions`, with its three
// CRC-32s (zlib's, as an outside check of the program's own).
QByteArray bpsPatch(const QByteArray &source, const QByteArray &target, const QByteArray &actions,
                    const QByteArray &metadata = {});
// A BPS number, an action (0 SourceRead, 1 TargetRead, 2 SourceCopy, 3
// TargetCopy) of `length` bytes, and a cursor move for the two copies.
QByteArray bpsNumber(quint64 value);
QByteArray bpsAction(int command, quint64 length);
QByteArray bpsMove(qint64 delta);
// A UPS patch from `input` to `output` with the given hunks (each a skip as a
// bpsNumber, then XOR bytes ending in a zero byte), and its three CRC-32s.
QByteArray upsPatch(const QByteArray &input, const QByteArray &output, const QByteArray &hunks);
// The XOR bytes of a hunk that turn `from` into `to` (bytes past `from` read
// as zeros), with the zero byte that ends the hunk.
QByteArray upsXor(const QByteArray &from, const QByteArray &to);
// The same patch with its patch CRC-32 made right again after a change.
QByteArray withBpsPatchCrc(QByteArray patch);

// An image in cartridge order (starting 0x80 0x37) whose header matches
// ApsFields' defaults: CRCs 0AB1007F and FF100233, name "TARNIC TEST IMAGE",
// cartridge ID "AB", country 'E' at 0x3E, version 0; the rest a byte pattern.
QByteArray cartridgeImage(qsizetype size = 4096);

// `size` bytes of a fixed pseudo-random sequence.
QByteArray randomBytes(qsizetype size, unsigned seed);

// Every aligned pair exchanged, as a "Doctor v64" copier stores it.
QByteArray byteSwapped(QByteArray bytes);
// Every whole 32-bit word reversed, as little-endian (.n64) dumps are; a tail
// shorter than a word stays as it is.
QByteArray wordsReversed(QByteArray bytes);

void writeFile(const QString &path, const QByteArray &bytes);
void writeFile(const std::filesystem::path &path, const QByteArray &bytes);
// Writes `bytes` to a file named `name` in `dir` and returns its path.
QString fileWith(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);
QByteArray readFile(const QString &path);
QByteArray readFile(const std::filesystem::path &path);
void makeReadOnly(const QString &path);
void makeReadOnly(const std::filesystem::path &path);

} // namespace testfiles
