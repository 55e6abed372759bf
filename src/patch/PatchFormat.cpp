#include "patch/PatchFormat.h"

#include "files/SafeWrite.h"
#include "patch/ImageUpdate.h"

#include "files/OwnNames.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/aps/ApsFormat.h"
#include "patch/bps/Bps.h"
#include "patch/ips/IpsFormat.h"
#include "patch/ppf/PpfFormat.h"
#include "patch/ups/Ups.h"
#include <filesystem>

namespace tarnic {

const std::vector<PatchFormatInfo> &patchFormats() {
    static const std::vector<PatchFormatInfo> formats = {
        {PatchFormat::Aps, "APS", "*.APS", "APS10", applyApsPatch, createApsPatch, false,
         "application/x-aps-patch", false, "N64 images, records up to 255 bytes"},
        {PatchFormat::Bps, "BPS", "*.bps", "BPS1", applyBps, createBpsPatch, true,
         "application/x-bps-patch", true,
         "moved and inserted content costs little; the description as metadata"},
        {PatchFormat::Ups, "UPS", "*.ups", "UPS1", applyUps, nullptr, true,
         "application/x-ups-patch", false, ""},
        {PatchFormat::Ips32, "IPS32", "*.ips32", "IPS32", applyIps, nullptr, false,
         "application/x-ips32-patch", false, ""},
        {PatchFormat::Ips, "IPS", "*.ips", "PATCH", applyIps, createIpsPatch, false,
         "application/x-ips-patch", true, "up to 16 MiB, no description"},
        {PatchFormat::Ppf, "PPF", "*.ppf", "PPF", applyPpf, nullptr, false,
         "application/x-ppf-patch", false, ""},
        {PatchFormat::Vcdiff, "xdelta (VCDIFF)", "*.xdelta;*.vcdiff;*.delta",
         std::string_view("\xD6\xC3\xC4\x00", 4), nullptr, nullptr, false,
         "application/x-xdelta-patch", false, ""},
    };
    return formats;
}

const PatchFormatInfo &infoOf(PatchFormat format) {
    for (const PatchFormatInfo &info : patchFormats()) {
        if (info.format == format)
            return info;
    }
    static const PatchFormatInfo unknown{
        PatchFormat::Unknown, "unknown", "", "", nullptr, nullptr, false, "", false, ""};
    return unknown;
}

PatchFormat recognisePatch(const QByteArray &firstBytes) {
    for (const PatchFormatInfo &info : patchFormats()) {
        if (firstBytes.startsWith(QByteArrayView(info.magic.data(), qsizetype(info.magic.size()))))
            return info.format;
    }
    return PatchFormat::Unknown;
}

PatchFormat recognisePatchFile(const std::filesystem::path &path) {
    QFile file;
    if (!openRegularFile(file, path))
        return PatchFormat::Unknown;
    return recognisePatch(file.read(kPatchMagicSize));
}

ApplyResult applyPatchFile(const PatchJob &job) {
    const PatchFormat format = recognisePatchFile(job.patchPath);
    // A file in no known format goes to the APS applier, which says what it is not.
    const PatchFormatInfo &info =
        infoOf(format == PatchFormat::Unknown ? PatchFormat::Aps : format);
    if (info.applies())
        return info.apply(job);
    ApplyResult result;
    result.outcome = ApplyOutcome::FormatNotSupported;
    return result;
}

std::optional<NamedSource> namedSourceOf(const std::filesystem::path &patchPath, PatchFormat format,
                                         ApplyOutcome &why, PatchCrcCheck check) {
    if (format == PatchFormat::Bps) {
        const BpsInspection bps = inspectBps(patchPath, check);
        why = bps.outcome == BpsRead::Corrupted ? ApplyOutcome::PatchCorrupted
                                                : ApplyOutcome::PatchTruncated;
        if (bps.outcome == BpsRead::Read)
            return NamedSource{bps.header.sourceSize, bps.header.sourceCrc};
    } else if (format == PatchFormat::Ups) {
        const UpsInspection ups = inspectUps(patchPath, check);
        why = ups.outcome;
        if (ups.outcome == ApplyOutcome::Applied)
            return NamedSource{ups.header.inputSize, ups.header.inputCrc};
    }
    return std::nullopt;
}

QString patchDescription(const std::filesystem::path &patchPath, PatchFormat format) {
    if (format == PatchFormat::Bps)
        return QString::fromUtf8(inspectBps(patchPath, PatchCrcCheck::Deferred).header.metadata);
    QFile patch;
    if (format != PatchFormat::Ppf || !openRegularFile(patch, patchPath))
        return QString();
    const PpfLayout layout = readPpfLayout(patch);
    return layout.fileIdDiz.isEmpty() ? layout.description
                                      : layout.description + u'\n' + layout.fileIdDiz;
}

bool checksItsImage(const std::filesystem::path &patchPath, PatchFormat format) {
    if (infoOf(format).namesItsSource)
        return true;
    QFile patch;
    if (format != PatchFormat::Ppf || !openRegularFile(patch, patchPath))
        return false;
    const PpfLayout layout = readPpfLayout(patch);
    return !layout.blockCheck.isEmpty() || layout.imageSize;
}

bool namesItsByteOrder(const std::filesystem::path &patchPath, PatchFormat format) {
    if (format == PatchFormat::Aps) {
        QFile patch;
        char head[kMagicSize + 1];
        return openRegularFile(patch, patchPath) &&
               readFully(patch, head, sizeof head) == sizeof head &&
               std::uint8_t(head[kMagicSize]) == kN64PatchType;
    }
    return checksItsImage(patchPath, format);
}

ApplyQuestion questionBefore(const std::filesystem::path &patchPath, PatchFormat format,
                             ByteOrder imageOrder, bool pairsDiffer) {
    const bool apsRules = format == PatchFormat::Aps || format == PatchFormat::Unknown;
    if (!apsRules && !infoOf(format).applies())
        return ApplyQuestion::None; // refused all the same
    const bool copierOrder =
        imageOrder == ByteOrder::ByteSwapped || imageOrder == ByteOrder::LittleEndian;
    if (format != PatchFormat::Unknown && copierOrder && !namesItsByteOrder(patchPath, format))
        return ApplyQuestion::NamesNoByteOrder;
    if (apsRules) {
        if (format == PatchFormat::Aps && !namesItsByteOrder(patchPath, format))
            return ApplyQuestion::NamesNoImage; // a simple patch names no cartridge
        return pairsDiffer ? ApplyQuestion::PairsDiffer : ApplyQuestion::None;
    }
    return checksItsImage(patchPath, format) ? ApplyQuestion::None : ApplyQuestion::NamesNoImage;
}

std::optional<ByteOrder> sourceOrder(const NamedSource &source,
                                     const std::filesystem::path &imagePath) {
    HeaderBytes head;
    QFile image;
    if (!readHeaderBytes(imagePath, head) || !openRegularFile(image, imagePath) ||
        std::uint64_t(image.size()) != source.size)
        return std::nullopt;
    const auto isSource = [&](std::uint32_t crc) { return crc == source.crc; };
    for (const OrderedCrc &crc : imageCrcs(image, byteOrderOf(head), isSource)) {
        if (isSource(crc.crc))
            return crc.order;
    }
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
    qint64 bytesWritten = 0;
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
    QFile content;
    if (identityOf(job.imagePath) != before)
        outcome = ApplyOutcome::ImageChanged;
    else if (const auto unwritable = update.startWriting())
        outcome = *unwritable;
    else if (!openRegularFile(content, current))
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

QString patchPatterns() {
    QStringList patterns;
    for (const PatchFormatInfo &info : patchFormats())
        patterns << QString::fromLatin1(info.patterns);
    return patterns.join(u';');
}

} // namespace tarnic
