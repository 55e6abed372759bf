#pragma once
// What several commands say of images: byte-order names, the remedy for an
// image the window does not read, the boot-code option, and JSON lines.

#include "Command.h"
#include "rom/Checksum.h"
#include "rom/ImageHeader.h"

#include <QCommandLineOption>
#include <QJsonObject>

#include <optional>

namespace tarnic::cli {

// "z64", "v64", "n64" (or "unknown"), as --to takes them.
QString shortName(ByteOrder order);
// The order --to names, without regard to case.
std::optional<ByteOrder> orderNamed(const QString &name);

// Why `file`, in `order`, is not an image a command can work on, with the
// remedy for a little-endian one.
QString notAnImage(const QString &file, ByteOrder order);

// --cic KIND.
const QCommandLineOption &cicOption();
// The kind --cic names: none when not given; false when it names no kind.
bool bootCodeOption(const CommandLine &command, std::optional<BootCode> &kind);

// A CRC-32 as eight hexadecimal digits.
QString crc32Text(std::uint32_t crc);

// A size or count for JSON, unsigned and exact however large: JSON numbers
// past 2^53 do not survive a double, so those are written by printJson().
QJsonValue jsonSize(std::uint64_t size);

// One JSON object on a line of its own.
void printJson(Console &console, const QJsonObject &object);

} // namespace tarnic::cli
