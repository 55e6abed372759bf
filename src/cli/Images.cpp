#include "Images.h"

#include "rom/NameTables.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace tarnic::cli {

QString shortName(ByteOrder order) {
    switch (order) {
    case ByteOrder::Cartridge:
        return QStringLiteral("z64");
    case ByteOrder::ByteSwapped:
        return QStringLiteral("v64");
    case ByteOrder::LittleEndian:
        return QStringLiteral("n64");
    case ByteOrder::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<ByteOrder> orderNamed(const QString &name) {
    for (const ByteOrder order :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        if (name.compare(shortName(order), Qt::CaseInsensitive) == 0)
            return order;
    }
    return std::nullopt;
}

QString notAnImage(const QString &file, ByteOrder order) {
    if (order == ByteOrder::LittleEndian)
        return QStringLiteral("a little-endian (.n64) image, which swap does not exchange; "
                              "convert it with: tarnic-cli convert --to z64 %1")
            .arg(file);
    return QStringLiteral("not an N64 image in a known byte order");
}

const QCommandLineOption &cicOption() {
    static const QCommandLineOption option(
        QStringLiteral("cic"),
        QStringLiteral("The boot code: 6101, 6102 (7101), 7102, 6103 (7103), 6105 (7105) or "
                       "6106 (7106)."),
        QStringLiteral("KIND"));
    return option;
}

bool bootCodeOption(const CommandLine &command, std::optional<BootCode> &kind) {
    kind.reset();
    if (!command.isSet(cicOption()))
        return true;
    kind = bootCodeNamed(toEngine(command.value(cicOption())));
    return kind.has_value();
}

QString crc32Text(std::uint32_t crc) {
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper();
}

namespace {
// Marks a number that printJson() writes out as it is: no text a patch or a
// file name carries holds this control character, which JSON escapes.
constexpr char16_t kExactNumberMark = 0x0001;
} // namespace

QJsonValue jsonSize(std::uint64_t size) {
    if (size <= (std::uint64_t(1) << 53))
        return qint64(size);
    return QString(QChar(kExactNumberMark)) + QString::number(size) + QChar(kExactNumberMark);
}

void printJson(Console &console, const QJsonObject &object) {
    QString line = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    static const QRegularExpression marked(QStringLiteral("\"\\\\u0001(\\d+)\\\\u0001\""));
    line.replace(marked, QStringLiteral("\\1"));
    console.out << line << '\n';
}

} // namespace tarnic::cli
