#include "patch/PatchFormat.h"

#include "files/OwnNames.h"
#include "files/SafeWrite.h"
#include "patch/ImageUpdate.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/aps/ApsFormat.h"
#include "patch/aps/ApsInspection.h"
#include "patch/bps/Bps.h"
#include "patch/ips/IpsFormat.h"
#include "patch/ppf/PpfFormat.h"
#include "patch/ups/Ups.h"
#include "patch/xdelta/Vcdiff.h"

#include <filesystem>

namespace tarnic {

namespace {

std::vector<PatchFormatInfo> &formatTable() {
    static std::vector<PatchFormatInfo> formats = {
        {PatchFormat::Aps, "APS", "*.APS", "APS10", applyApsPatch, createApsPatch, applyApsPatchTo,
         summarizeAps, nullptr, "application/x-aps-patch", false,
         "N64 images, records up to 255 bytes"},
        {PatchFormat::Bps, "BPS", "*.bps", "BPS1", applyBps, createBpsPatch, applyBpsTo,
         summarizeBps, nullptr, "application/x-bps-patch", true,
         "moved and inserted content costs little; the description as metadata"},
        {PatchFormat::Ups, "UPS", "*.ups", "UPS1", applyUps, nullptr, applyUpsTo, summarizeUps,
         nullptr, "application/x-ups-patch", false, ""},
        {PatchFormat::Ips32, "IPS32", "*.ips32", "IPS32", applyIps, nullptr, applyIpsTo,
         summarizeIps, nullptr, "application/x-ips32-patch", false, ""},
        {PatchFormat::Ips, "IPS", "*.ips", "PATCH", applyIps, createIpsPatch, applyIpsTo,
         summarizeIps, nullptr, "application/x-ips-patch", true, "up to 16 MiB, no description"},
        {PatchFormat::Ppf, "PPF", "*.ppf", "PPF", applyPpf, nullptr, applyPpfTo, summarizePpf,
         checkPpfImageFile, "application/x-ppf-patch", false, ""},
        {PatchFormat::Vcdiff, "xdelta (VCDIFF)", "*.xdelta;*.vcdiff;*.delta",
         std::string_view("\xD6\xC3\xC4", 3), applyXdelta, createXdeltaPatch, applyXdeltaTo,
         summarizeXdelta, nullptr, "application/x-xdelta-patch", false,
         "read by every xdelta and VCDIFF patcher", xdeltaSourceOrder},
    };
    return formats;
}

} // namespace

const std::vector<PatchFormatInfo> &patchFormats() {
    return formatTable();
}

void registerPatchFormat(const PatchFormatInfo &info) {
    formatTable().push_back(info);
}

const PatchFormatInfo &infoOf(PatchFormat format) {
    for (const PatchFormatInfo &info : patchFormats()) {
        if (info.format == format)
            return info;
    }
    static const PatchFormatInfo unknown{PatchFormat::Unknown,
                                         "unknown",
                                         "",
                                         "",
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         "",
                                         false,
                                         "",
                                         nullptr};
    return unknown;
}

PatchFormat recognisePatch(const std::string &firstBytes) {
    for (const PatchFormatInfo &info : patchFormats()) {
        if (std::string_view(firstBytes).starts_with(info.magic))
            return info.format;
    }
    return PatchFormat::Unknown;
}

PatchFormat recognisePatchFile(const std::filesystem::path &path) {
    FileReader file;
    if (!file.open(path))
        return PatchFormat::Unknown;
    return recognisePatch(file.read(kPatchMagicSize));
}

namespace {

// What a file in no known format is, where it says: xdelta 1 patches
// ("%XDELTA%", and "%XDZ000%" to "%XDZ004%") are older than VCDIFF.
PatchFault faultOfUnknown(const std::string &firstBytes) {
    return firstBytes.starts_with("%XDELTA") || firstBytes.starts_with("%XDZ00")
               ? PatchFault::XdeltaOne
               : PatchFault::None;
}

std::string firstBytesOf(const std::filesystem::path &path) {
    FileReader file;
    return file.open(path) ? file.read(kPatchMagicSize) : std::string();
}

// Applies with the applier of the format `firstBytes` tell; a file in no
// known format goes to the APS applier, which says what it is not.
template <typename Apply> ApplyResult applyByFormat(const std::string &firstBytes, Apply &&apply) {
    const PatchFormat format = recognisePatch(firstBytes);
    ApplyResult result;
    const PatchFormatInfo &info =
        infoOf(format == PatchFormat::Unknown ? PatchFormat::Aps : format);
    if (!info.applies()) {
        result.outcome = ApplyOutcome::FormatNotSupported;
        return result;
    }
    result = apply(info);
    if (format == PatchFormat::Unknown && result.outcome == ApplyOutcome::NotAnApsFile)
        result.fault = faultOfUnknown(firstBytes);
    return result;
}

} // namespace

ApplyResult applyPatchFile(const PatchJob &job) {
    return applyByFormat(firstBytesOf(job.patchPath),
                         [&](const PatchFormatInfo &info) { return info.apply(job); });
}

ApplyResult applyPatch(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck) {
    return applyByFormat(patch.seek(0) ? patch.read(kPatchMagicSize) : std::string(),
                         [&](const PatchFormatInfo &info) {
                             return info.applyTo(patch, image, place, skipSourceCheck);
                         });
}

PatchSummary inspectPatchFile(const std::filesystem::path &patchPath, ReadDepth depth) {
    const std::string firstBytes = firstBytesOf(patchPath);
    const PatchFormat format = recognisePatch(firstBytes);
    const PatchFormatInfo &info =
        infoOf(format == PatchFormat::Unknown ? PatchFormat::Aps : format);
    if (info.inspect) {
        PatchSummary summary = info.inspect(patchPath, depth);
        if (format == PatchFormat::Unknown && summary.read == PatchRead::NotAPatch)
            summary.fault = faultOfUnknown(firstBytes);
        return summary;
    }
    PatchSummary summary;
    summary.read = PatchRead::Readable;
    summary.format = info.format;
    summary.heading = std::string(info.name) + " patch";
    return summary;
}

ApplyQuestion questionBefore(const PatchSummary &patch, ByteOrder imageOrder, bool pairsDiffer) {
    // A patch that does not read, or of a format this version does not
    // apply, is refused all the same.
    if (!patch.readable() || !infoOf(patch.format).applies())
        return ApplyQuestion::None;
    const bool copierOrder =
        imageOrder == ByteOrder::ByteSwapped || imageOrder == ByteOrder::LittleEndian;
    if (copierOrder && !patch.namesByteOrder)
        return ApplyQuestion::NamesNoByteOrder;
    switch (patch.checks) {
    case PatchChecks::Nothing:
        return ApplyQuestion::NamesNoImage;
    case PatchChecks::CartridgePairs:
        return pairsDiffer ? ApplyQuestion::PairsDiffer : ApplyQuestion::None;
    case PatchChecks::SourceCrc:
    case PatchChecks::ImageBlock:
    case PatchChecks::ResultChecksums:
        break;
    }
    return ApplyQuestion::None;
}

std::optional<ByteOrder> sourceOrder(const NamedSource &source,
                                     const std::filesystem::path &imagePath) {
    HeaderBytes head;
    FileReader image;
    if (!readHeaderBytes(imagePath, head) || !image.open(imagePath) ||
        std::uint64_t(image.size()) != source.size)
        return std::nullopt;
    const auto isSource = [&](std::uint32_t crc) { return crc == source.crc; };
    for (const OrderedCrc &crc : imageCrcs(image, byteOrderOf(head), isSource)) {
        if (isSource(crc.crc))
            return crc.order;
    }
    return std::nullopt;
}

std::optional<ByteOrder> provenSourceOrder(const PatchSummary &patch,
                                           const std::filesystem::path &patchPath,
                                           const std::filesystem::path &imagePath) {
    if (patch.checks == PatchChecks::SourceCrc && patch.source)
        return sourceOrder(*patch.source, imagePath);
    const PatchFormatInfo &info = infoOf(patch.format);
    if (patch.checks == PatchChecks::ResultChecksums && info.sourceOrderOf)
        return info.sourceOrderOf(patchPath, imagePath);
    return std::nullopt;
}

ApplyResult applyPatchFiles(const std::vector<std::filesystem::path> &patches,
                            const PatchJob &job) {
    ApplyResult result;
    // The image is locked, and every name the row writes checked against
    // every patch, for the whole row; each patch locks it again in turn.
    PatchJob last = job;
    last.patchPath = patches.back();
    last.confirm = {}; // asked, and announced, at the first patch
    last.workStarting = {};
    ImageUpdate update(last);
    const std::vector<std::filesystem::path> earlier(patches.begin(), patches.end() - 1);
    if (const auto refused = update.lockImage(result, earlier)) {
        result.outcome = *refused;
        return result;
    }
    const std::optional<FileIdentity> before = identityOf(job.imagePath);
    const StepsFolder steps(job.imagePath);
    if (!steps.isValid() || !before) {
        result.outcome = ApplyOutcome::WriteFailed;
        result.systemError = steps.errorString();
        return result;
    }
    std::filesystem::path current = job.imagePath;
    std::int64_t bytesWritten = 0;
    for (size_t i = 0; i < patches.size(); ++i) {
        PatchJob step;
        step.patchPath = patches[i];
        step.imagePath = current;
        step.outputPath = steps.step(int(i));
        step.skipSourceCheck = job.skipSourceCheck;
        if (i == 0) {
            step.confirm = job.confirm;
            step.workStarting = job.workStarting;
        }
        result = applyPatchFile(step);
        result.patchIndex = int(i);
        if (result.outcome != ApplyOutcome::Applied)
            return result;
        bytesWritten += result.bytesWritten;
        current = step.outputPath;
    }
    // The last result in the image's place, as one patch's would be.
    ApplyOutcome outcome = ApplyOutcome::Applied;
    FileReader content;
    if (identityOf(job.imagePath) != before)
        outcome = ApplyOutcome::ImageChanged;
    else if (const auto unwritable = update.startWriting())
        outcome = *unwritable;
    else if (!content.open(current))
        outcome = ApplyOutcome::WriteFailed;
    if (outcome != ApplyOutcome::Applied) {
        result.outcome = outcome;
        return result;
    }
    const bool written =
        copyStream(content, update.replacement()) && update.replacement().finish(content.size());
    result.outcome = update.putInPlace(written, result);
    result.bytesWritten = bytesWritten;
    return result;
}

std::string patchPatterns() {
    std::string patterns;
    for (const PatchFormatInfo &info : patchFormats()) {
        if (!patterns.empty())
            patterns += ';';
        patterns += info.patterns;
    }
    return patterns;
}

} // namespace tarnic
