#include "patch/aps/ApsInspection.h"

#include "files/SafeWrite.h"

#include <QFile>

#include <filesystem>

namespace tarnic {

namespace {

class HeaderFieldReader {
  public:
    explicit HeaderFieldReader(QFile &file) : file_(file) {}

    bool text(QString &into, int width) {
        const QByteArray bytes = file_.read(width);
        if (bytes.size() != width)
            return false;
        into = bytesToText(bytes.constData(), bytes.size());
        return true;
    }

    bool byte(std::uint8_t &into) {
        char c;
        if (file_.read(&c, 1) != 1)
            return false;
        into = std::uint8_t(c);
        return true;
    }

    bool crc(CrcBytes &into) {
        char bytes[4];
        if (file_.read(bytes, 4) != 4)
            return false;
        for (int i = 0; i < 4; ++i)
            into[i] = std::uint8_t(bytes[i]);
        return true;
    }

  private:
    QFile &file_;
};

} // namespace

ApsInspection inspectApsPatch(const std::filesystem::path &filePath) {
    ApsInspection result;
    PatchHeader &h = result.header;
    PatchDisplay &d = result.display;

    QFile file;
    if (!openRegularFile(file, filePath))
        return result; // CannotOpen

    d.PatchTypeTxT = QString();
    d.EncodeMethodTxt = QString();
    d.PatchNfo = QString();
    d.BackupType = QString();

    HeaderFieldReader read(file);
    auto stop = [&](InspectionOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    if (!read.text(h.Magic, kMagicSize) || h.Magic != QLatin1String(kApsMagic))
        return stop(InspectionOutcome::NotAnApsFile);

    if (!read.byte(h.PatchType))
        return stop(InspectionOutcome::ReadFailed);
    if (h.PatchType <= 1)
        d.PatchTypeTxT = PatchTypeNames[h.PatchType];

    if (!read.byte(h.EncodingMethod))
        return stop(InspectionOutcome::ReadFailed);
    if (h.EncodingMethod != 0)
        return stop(InspectionOutcome::UnsupportedEncoding);
    d.EncodeMethodTxt = EncodingNames[0];

    if (!read.text(h.Description, kDescriptionSize))
        return stop(InspectionOutcome::ReadFailed);
    d.PatchNfo = h.Description;

    if (h.PatchType == kSimplePatchType) {
        // No N64 block: the patch does not say what it was made for, so the
        // four compared fields show empty (and differ from any image shown).
        char imageSize[4];
        if (file.read(imageSize, sizeof imageSize) != sizeof imageSize)
            return stop(InspectionOutcome::ReadFailed);
        d.CartID = d.CountryID = d.PTCRC = QString();
        return stop(InspectionOutcome::Shown);
    }

    if (!read.byte(h.TargetFormat) || h.TargetFormat >= ImageFormatNames.size())
        return stop(InspectionOutcome::ReadFailed);
    d.BackupType = ImageFormatNames[h.TargetFormat];

    if (!read.text(h.CartId, kCartIdSize))
        return stop(InspectionOutcome::ReadFailed);
    d.CartID = h.CartId;

    if (!read.byte(h.CountryCode))
        return stop(InspectionOutcome::ReadFailed);
    d.CountryID = CountryNames[countryIndex(h.CountryCode)];

    if (!read.crc(h.Crc1))
        return stop(InspectionOutcome::ReadFailed);
    d.PTCRC = hexText(h.Crc1) + QStringLiteral(" : ");
    if (!read.crc(h.Crc2))
        return stop(InspectionOutcome::ReadFailed);
    *d.PTCRC += hexText(h.Crc2);

    return stop(InspectionOutcome::Shown);
}

} // namespace tarnic
