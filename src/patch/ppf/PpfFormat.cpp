#include "patch/ppf/PpfFormat.h"

#include "files/SafeWrite.h"
#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"
#include "rom/ByteOrderConversion.h"
#include "rom/ImageHeader.h"

#include "io/Endian.h"

#include "files/FileReader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tarnic {

namespace {

constexpr char kBeginDiz[] = "@BEGIN_FILE_ID.DIZ";
constexpr char kEndDiz[] = "@END_FILE_ID.DIZ";
constexpr std::int64_t kBlockCheckSize = 1024;
constexpr std::int64_t kBlockCheckOffset = 0x9320;
constexpr std::int64_t kGiBlockCheckOffset = 0x80A0;
constexpr std::int64_t kIsoBlockCheckOffset = 0x8000;

} // namespace

PpfLayout readPpfLayout(Reader &patch) {
    PpfLayout layout;
    char head[60];
    const std::int64_t got = patch.seek(0) ? patch.read(head, sizeof head) : -1;
    if (got < 0) {
        layout.read = PatchRead::Unreadable;
        return layout;
    }
    if (got < 3 || std::memcmp(head, "PPF", 3) != 0) {
        layout.read = PatchRead::NotAPatch;
        return layout;
    }
    if (got < 56)
        return layout; // cut short
    const int version = head[3] - '0';
    if (head[4] != '0' || version < 1 || version > 3 || head[5] != char(version - 1)) {
        layout.read = PatchRead::UnsupportedVersion;
        return layout;
    }
    const std::int64_t size = patch.size();
    std::int64_t start = 56;
    bool undo = false;
    std::int64_t blockAt = kBlockCheckOffset;
    if (version == 2) {
        start = 60 + kBlockCheckSize;
        layout.imageSize = fromLittleEndian<std::uint32_t>(head + 56);
    } else if (version == 3) {
        if (size < 60)
            return layout;
        start = head[57] != 0 ? 60 + kBlockCheckSize : 60;
        undo = head[58] != 0;
        layout.imageType = std::uint8_t(head[56]);
        blockAt = head[56] == 1   ? kGiBlockCheckOffset
                  : head[56] == 2 ? kIsoBlockCheckOffset
                                  : kBlockCheckOffset;
    }
    if (size < start)
        return layout;
    if (start == 60 + kBlockCheckSize) {
        layout.blockCheck = patch.read(kBlockCheckSize);
        layout.blockCheckAt = blockAt;
        if (layout.blockCheck.size() != kBlockCheckSize)
            return {};
    }
    layout.read = PatchRead::Readable;
    layout.version = version;
    layout.recordsStart = start;
    layout.recordsEnd = size;
    layout.undoData = undo;
    layout.description =
        trimmed(latin1ToUtf8(std::string_view(head + kPpfDescriptionOffset, kPpfDescriptionSize)));
    // The FILE_ID.DIZ text, told by ".DIZ" just before its length: in four
    // bytes in PPF2 and two in PPF3 as the format's author writes them, in
    // the other size as some other writers do.
    const auto readFileIdDiz = [&](std::int64_t lengthSize) {
        char tail[8];
        if (size - start < 18 + 16 + lengthSize || !patch.seek(size - 4 - lengthSize) ||
            patch.read(tail, 4 + lengthSize) != 4 + lengthSize || std::memcmp(tail, ".DIZ", 4) != 0)
            return false;
        const std::int64_t textSize = lengthSize == 4 ? fromLittleEndian<std::uint32_t>(tail + 4)
                                                      : fromLittleEndian<std::uint16_t>(tail + 4);
        const std::int64_t begin = size - lengthSize - 16 - textSize - 18;
        char mark[18];
        char endMark[16];
        if (begin < start || !patch.seek(size - lengthSize - 16) || patch.read(endMark, 16) != 16 ||
            std::memcmp(endMark, kEndDiz, 16) != 0 || !patch.seek(begin) ||
            patch.read(mark, 18) != 18 || std::memcmp(mark, kBeginDiz, 18) != 0)
            return false;
        // A FILE_ID.DIZ holds at most 3072 bytes; only that much is read of
        // a longer one.
        layout.fileIdDiz =
            trimmed(latin1ToUtf8(patch.read(std::min<std::int64_t>(textSize, 3072))));
        layout.recordsEnd = begin;
        return true;
    };
    if (version >= 2 && !readFileIdDiz(version == 2 ? 4 : 2))
        readFileIdDiz(version == 2 ? 2 : 4);
    patch.seek(start);
    return layout;
}

ImageBlockCheck checkPpfImage(const PpfLayout &layout, const std::filesystem::path &imagePath) {
    if (layout.blockCheck.empty() && !layout.imageSize)
        return {ImageBlockFit::NoCheck, ByteOrder::Unknown};
    FileReader image;
    if (!image.open(imagePath))
        return {ImageBlockFit::Unreadable, ByteOrder::Unknown};
    return checkPpfImage(layout, image);
}

ImageBlockCheck checkPpfImage(const PpfLayout &layout, Reader &image) {
    ImageBlockCheck check{ImageBlockFit::NoCheck, ByteOrder::Unknown};
    if (layout.blockCheck.empty() && !layout.imageSize)
        return check;
    HeaderBytes head;
    const ByteOrder own = readHeaderBytes(image, head) ? byteOrderOf(head) : ByteOrder::Unknown;
    check.order = own;
    if (layout.imageSize && std::int64_t(*layout.imageSize) != image.size()) {
        check.fit = ImageBlockFit::Differs;
        return check;
    }
    if (layout.blockCheck.empty()) {
        check.fit = ImageBlockFit::Fits;
        return check;
    }
    std::string block(kBlockCheckSize, '\0');
    const std::int64_t held =
        std::clamp(image.size() - layout.blockCheckAt, std::int64_t(0), kBlockCheckSize);
    if (held > 0 && !readAt(image, layout.blockCheckAt, block.data(), held)) {
        check.fit = ImageBlockFit::Unreadable;
        return check;
    }
    if (block == layout.blockCheck) {
        check.fit = ImageBlockFit::Fits;
        return check;
    }
    check.fit = ImageBlockFit::Differs;
    if (own == ByteOrder::Unknown)
        return check;
    std::string reordered(kBlockCheckSize, '\0');
    for (const ByteOrder other :
         {ByteOrder::Cartridge, ByteOrder::ByteSwapped, ByteOrder::LittleEndian}) {
        if (other == own)
            continue;
        copyReordered(block.data(), reordered.data(), kBlockCheckSize, own, other);
        if (reordered == layout.blockCheck) {
            check = {ImageBlockFit::OtherOrder, other};
            break;
        }
    }
    return check;
}

PpfRecordReader::Step PpfRecordReader::next(PatchRecord &record) {
    const std::int64_t at = stream_.pos();
    if (at >= layout_.recordsEnd)
        return Step::End;
    // A FILE_ID.DIZ trailer that was cut short is no longer told by its end:
    // its text must not be read as records (its first bytes would make one
    // far past the image's end).
    if (layout_.version >= 2) {
        char mark[18];
        const std::int64_t left = std::min<std::int64_t>(18, layout_.recordsEnd - at);
        const std::int64_t peeked = stream_.read(mark, left);
        if (peeked < 0 || !stream_.seek(at))
            return Step::ReadFailed;
        if (peeked >= 5 && std::memcmp(mark, kBeginDiz, size_t(peeked)) == 0)
            return Step::Truncated;
    }
    const std::int64_t offsetSize = layout_.version == 3 ? 8 : 4;
    char head[9];
    const std::int64_t got = stream_.read(head, offsetSize + 1);
    if (got < 0)
        return Step::ReadFailed;
    if (got < offsetSize + 1 || at + offsetSize + 1 > layout_.recordsEnd)
        return Step::Truncated;
    const std::uint64_t offset = offsetSize == 8 ? fromLittleEndian<std::uint64_t>(head)
                                                 : fromLittleEndian<std::uint32_t>(head);
    // An offset past what any record may write makes the record not fit.
    record.Offset = offset > (std::uint64_t(1) << 40) ? -1 : std::int64_t(offset);
    record.Length = std::uint8_t(head[offsetSize]);
    record.RunCount = 0;
    record.Data = data_.data();
    const std::int64_t length = record.Length * (layout_.undoData ? 2 : 1);
    if (at + offsetSize + 1 + length > layout_.recordsEnd)
        return Step::Truncated;
    if (stream_.read(data_.data(), record.Length) != record.Length)
        return Step::Truncated;
    if (layout_.undoData && !stream_.seek(stream_.pos() + record.Length))
        return Step::Truncated;
    // A length of 0 writes nothing (PPF1's run form is not what ApplyPPF does).
    if (record.Length == 0)
        record.Data = nullptr;
    return Step::Record;
}

namespace {

// The records of the patch that stands at them, read with its layout.
RecordRules ppfRules() {
    RecordRules rules;
    rules.open = [](Reader &patch) -> std::unique_ptr<RecordStream> {
        const std::int64_t start = patch.pos();
        const PpfLayout layout = readPpfLayout(patch);
        if (layout.version == 0 || !patch.seek(start))
            return nullptr;
        return std::make_unique<PpfRecordReader>(patch, layout);
    };
    return rules;
}

} // namespace

namespace {

// The header reader and the image check of a PPF patch, for `apply`: the image
// must be the one the block check and size describe, in its own byte order,
// unless the check is skipped.
template <typename Apply> ApplyResult applyWithLayout(bool skipSourceCheck, Apply &&apply) {
    PpfLayout layout;
    const auto readHeader = [&layout](Reader &patch, PatchFileCheck &check) {
        layout = readPpfLayout(patch);
        if (layout.read != PatchRead::Readable)
            return fileOutcomeOf(layout.read);
        check.recordsStart = layout.recordsStart;
        return patch.seek(layout.recordsStart) ? PatchFileOutcome::Valid
                                               : PatchFileOutcome::Unreadable;
    };
    const auto checkImage = [&](Reader &image, ApplyResult &result,
                                std::optional<ResultCheck> &) -> std::optional<ApplyOutcome> {
        if (skipSourceCheck)
            return std::nullopt;
        const ImageBlockCheck check = checkPpfImage(layout, image);
        switch (check.fit) {
        case ImageBlockFit::NoCheck:
        case ImageBlockFit::Fits:
            return std::nullopt;
        case ImageBlockFit::OtherOrder:
            result.readAs = check.order;
            return ApplyOutcome::OtherByteOrder;
        case ImageBlockFit::Differs:
            return ApplyOutcome::WrongImage;
        case ImageBlockFit::Unreadable:
            break;
        }
        return ApplyOutcome::DestinationUnwritable;
    };
    return apply(HeaderReader(readHeader), ImageCheck(checkImage));
}

} // namespace

ApplyResult applyPpf(const PatchJob &job) {
    return applyWithLayout(job.skipSourceCheck,
                           [&](const HeaderReader &readHeader, const ImageCheck &checkImage) {
                               return applyRecords(job, ppfRules(), readHeader, checkImage);
                           });
}

ApplyResult applyPpfTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck) {
    return applyWithLayout(
        skipSourceCheck, [&](const HeaderReader &readHeader, const ImageCheck &checkImage) {
            return applyRecordsTo(patch, image, place, ppfRules(), readHeader, checkImage);
        });
}

ImageBlockCheck checkPpfImageFile(const std::filesystem::path &patchPath,
                                  const std::filesystem::path &imagePath) {
    FileReader patch;
    if (!patch.open(patchPath))
        return {};
    return checkPpfImage(readPpfLayout(patch), imagePath);
}

PatchSummary summarizePpf(const std::filesystem::path &patchPath, ReadDepth depth) {
    PatchSummary summary;
    summary.format = PatchFormat::Ppf;
    summary.kind = "ppf-patch";
    FileReader patch;
    if (!patch.open(patchPath))
        return summary;
    const PpfLayout layout = readPpfLayout(patch);
    summary.read = layout.read;
    if (layout.read != PatchRead::Readable) {
        summary.fault = layout.read == PatchRead::UnsupportedVersion ? PatchFault::OtherVersion
                                                                     : PatchFault::None;
        return summary;
    }
    summary.heading = "PPF" + std::to_string(layout.version) + " patch";
    const std::string description = layout.fileIdDiz.empty()
                                        ? layout.description
                                        : layout.description + '\n' + layout.fileIdDiz;
    summary.description = description;
    const bool blockCheck = !layout.blockCheck.empty();
    if (blockCheck || layout.imageSize) {
        summary.checks = PatchChecks::ImageBlock;
        summary.namesByteOrder = true;
    }
    if (blockCheck)
        summary.blockCheckAt = std::uint64_t(layout.blockCheckAt);
    summary.lines = {{"NFo :", summary.description},
                     {"Block check",
                      blockCheck ? "1024 bytes at 0x" + upperHex(std::uint64_t(layout.blockCheckAt))
                                 : std::string("none")}};
    summary.fields = {{"version", std::int64_t(layout.version)},
                      {"description", summary.description},
                      {"blockCheckAt", blockCheck ? SummaryValue(std::int64_t(layout.blockCheckAt))
                                                  : SummaryValue()}};
    if (layout.imageSize) {
        summary.lines.push_back({"Image size", std::to_string(*layout.imageSize) + " bytes"});
        summary.fields.push_back({"imageSize", std::int64_t(*layout.imageSize)});
    }
    if (layout.version == 3) {
        const char *const types[] = {"BIN", "GI", "ISO"};
        summary.lines.push_back({"Image type", layout.imageType < 3
                                                   ? std::string(types[layout.imageType])
                                                   : "type " + std::to_string(layout.imageType)});
        summary.fields.push_back({"imageType", std::int64_t(layout.imageType)});
    }
    summary.lines.push_back({"Undo data", layout.undoData ? "present" : "none"});
    summary.fields.push_back({"undoData", layout.undoData});
    if (depth == ReadDepth::Whole) {
        PatchFileCheck check;
        if (!patch.seek(layout.recordsStart)) {
            summary.read = PatchRead::Unreadable;
            return summary;
        }
        check.outcome = checkRecordStream(patch, ppfRules(), check);
        summary.fault = check.fault;
        summary.read = readOf(check.outcome, summary.fault);
        if (summary.readable()) {
            summary.lines.push_back({"Records", std::to_string(check.records)});
            summary.fields.push_back({"records", std::int64_t(check.records)});
        }
    }
    return summary;
}

} // namespace tarnic
