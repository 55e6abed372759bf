#include "rom/NameTables.h"

namespace tarnic {

QString padRight(const QString &name, int width) {
    return name.leftJustified(width, u' ');
}

const std::array<QString, 2> ImageFormatNames = {
    padRight(QStringLiteral("Doctor v64"), kImageNameWidth),
    padRight(QStringLiteral("CD64/Z64/Wc/SP"), kImageNameWidth),
};

const QString LittleEndianFormatName =
    padRight(QStringLiteral("Little-Endian (n64)"), kImageNameWidth);

const std::array<QString, 6> CountryNames = {
    padRight(QStringLiteral("44h  _Germany"), kImageNameWidth),
    padRight(QStringLiteral("45h  _USA"), kImageNameWidth),
    padRight(QStringLiteral("4Ah  _Japan"), kImageNameWidth),
    padRight(QStringLiteral("50h  _Europe"), kImageNameWidth),
    padRight(QStringLiteral("55h  _Australia"), kImageNameWidth),
    padRight(QStringLiteral("0x   _Unknown"), kImageNameWidth),
};

int countryIndex(std::uint8_t code) {
    switch (code) {
    case 0x44:
        return 0;
    case 0x45:
        return 1;
    case 0x4A:
        return 2;
    case 0x50:
        return 3;
    case 0x55:
        return 4;
    default:
        return 5;
    }
}

QString twoDigitHex(std::uint8_t value) {
    return QString::number(value, 16).toUpper().rightJustified(2, u'0');
}

QString hexText(const CrcBytes &bytes) {
    QString text;
    for (std::uint8_t b : bytes)
        text += twoDigitHex(b);
    return text;
}

QString crcText(const CrcBytes &crc1, const CrcBytes &crc2) {
    return hexText(crc1) + QStringLiteral(" : ") + hexText(crc2);
}

} // namespace tarnic
