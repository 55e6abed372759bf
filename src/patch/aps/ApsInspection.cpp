#include "patch/aps/ApsInspection.h"

#include "files/SafeWrite.h"
#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"

#include "files/FileReader.h"

#include <filesystem>

namespace tarnic {

namespace {

class HeaderFieldReader {
  public:
    explicit HeaderFieldReader(Reader &file) : file_(file) {}

    bool text(std::string &into, int width) {
        const std::string bytes = file_.read(width);
        if (bytes.size() != size_t(width))
            return false;
        into = bytesToText(bytes.data(), bytes.size());
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
    Reader &file_;
};

} // namespace

ApsInspection inspectApsPatch(const std::filesystem::path &filePath) {
    ApsInspection result;
    PatchHeader &h = result.header;
    PatchDisplay &d = result.display;

    FileReader file;
    if (!file.open(filePath))
        return result; // CannotOpen

    d.PatchTypeTxT = std::string();
    d.EncodeMethodTxt = std::string();
    d.PatchNfo = std::string();
    d.BackupType = std::string();

    HeaderFieldReader read(file);
    auto stop = [&](InspectionOutcome outcome) {
        result.outcome = outcome;
        return result;
    };

    if (!read.text(h.Magic, kMagicSize) || h.Magic != kApsMagic)
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
        d.CartID = d.CountryID = d.PTCRC = std::string();
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
    d.PTCRC = hexText(h.Crc1) + std::string(" : ");
    if (!read.crc(h.Crc2))
        return stop(InspectionOutcome::ReadFailed);
    *d.PTCRC += hexText(h.Crc2);

    return stop(InspectionOutcome::Shown);
}

PatchSummary summarizeAps(const std::filesystem::path &filePath, ReadDepth depth) {
    PatchSummary summary;
    summary.format = PatchFormat::Aps;
    summary.kind = "aps-patch";
    summary.heading = "APS patch";
    const ApsInspection inspection = inspectApsPatch(filePath);
    const PatchHeader &h = inspection.header;
    summary.display = inspection.display;
    switch (inspection.outcome) {
    case InspectionOutcome::Shown:
        summary.read = PatchRead::Readable;
        break;
    case InspectionOutcome::CannotOpen:
        summary.read = PatchRead::Unreadable;
        return summary;
    case InspectionOutcome::NotAnApsFile:
        summary.read = PatchRead::NotAPatch;
        return summary;
    case InspectionOutcome::UnsupportedEncoding:
        summary.read = PatchRead::UnsupportedVersion;
        summary.fault = PatchFault::OtherEncoding;
        return summary;
    case InspectionOutcome::ReadFailed:
        const bool badTarget = h.TargetFormat >= ImageFormatNames.size();
        summary.read = badTarget ? PatchRead::Damaged : PatchRead::CutShort;
        summary.fault = badTarget ? PatchFault::UnknownTargetFormat : PatchFault::None;
        return summary;
    }
    // A simple patch names no cartridge, nor the byte order of its records.
    const bool names = h.PatchType != kSimplePatchType;
    summary.checks = names ? PatchChecks::CartridgePairs : PatchChecks::Nothing;
    summary.namesByteOrder = h.PatchType == kN64PatchType;
    summary.description = h.Description;
    if (depth != ReadDepth::Whole)
        return summary;

    const PatchFileCheck records = checkApsFile(filePath);
    summary.fault = records.fault;
    summary.read = readOf(records.outcome, summary.fault);
    summary.fields = {
        {"patchType", std::int64_t(h.PatchType)},
        {"encoding", std::int64_t(h.EncodingMethod)},
        {"description", summary.description},
        {"headerSize", std::int64_t(recordStreamStart(h.PatchType))},
        {"imageSize", std::int64_t(records.declaredImageSize)},
    };
    if (names) {
        summary.fields.push_back({"targetFormat", std::int64_t(h.TargetFormat)});
        summary.fields.push_back({"cartId", h.CartId});
        summary.fields.push_back({"countryCode", std::int64_t(h.CountryCode)});
        summary.fields.push_back({"crc1", hexText(h.Crc1)});
        summary.fields.push_back({"crc2", hexText(h.Crc2)});
    }
    if (summary.readable()) {
        summary.fields.push_back({"records", std::int64_t(records.records)});
        summary.fields.push_back({"bytesWritten", std::int64_t(records.bytesWritten)});
        summary.lines.push_back({"Records", std::to_string(records.records)});
        summary.lines.push_back({"Bytes written", std::to_string(records.bytesWritten)});
    }
    summary.lines.push_back({"Image size", std::to_string(records.declaredImageSize)});
    return summary;
}

} // namespace tarnic
