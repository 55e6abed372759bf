#include "patch/ups/Ups.h"

#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"
#include "patch/source/SourceMatch.h"
#include "patch/varint/Varint.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tarnic {

UpsRecordReader::Step UpsRecordReader::next(PatchRecord &record) {
    for (;;) {
        if (!insideHunk_) {
            if (stream_.pos() >= end_)
                return stream_.pos() == end_ ? Step::End : broken(PatchFault::HunkCutShort);
            bool tooLong = false;
            const std::optional<std::uint64_t> skip = readVarintFrom(stream_, &tooLong);
            if (tooLong)
                return broken(PatchFault::NumberTooLong);
            if (!skip || stream_.pos() >= end_)
                return broken(PatchFault::HunkCutShort);
            if (*skip > std::uint64_t((std::int64_t(1) << 62) - cursor_))
                return broken(PatchFault::WritesOutOfRange);
            cursor_ += std::int64_t(*skip);
            insideHunk_ = true;
        }
        int size = 0;
        while (size < kMostBytes && insideHunk_) {
            char c;
            if (stream_.pos() >= end_)
                return broken(PatchFault::HunkCutShort);
            if (!stream_.getChar(&c))
                return Step::ReadFailed;
            data_[size_t(size++)] = c;
            insideHunk_ = c != 0;
        }
        const std::int64_t at = cursor_;
        cursor_ += size;
        if (at >= outputSize_)
            continue;
        record.Offset = at;
        record.Length = std::uint16_t(std::min<std::int64_t>(size, outputSize_ - at));
        record.RunCount = 0;
        record.Data = data_.data();
        return Step::Record;
    }
}

std::optional<UpsHeader> readUpsHeader(Reader &patch, bool *tooLong) {
    char magic[4];
    if (!patch.seek(0) || patch.read(magic, 4) != 4 || std::memcmp(magic, kUpsMagic, 4) != 0)
        return std::nullopt;
    const auto input = readVarintFrom(patch, tooLong);
    const auto output = readVarintFrom(patch, tooLong);
    if (!input || !output || patch.size() - patch.pos() < kCrcFooterSize)
        return std::nullopt;
    UpsHeader h;
    h.inputSize = *input;
    h.outputSize = *output;
    h.hunksStart = patch.pos();
    h.hunksEnd = patch.size() - kCrcFooterSize;
    return h;
}

UpsInspection inspectUps(const std::filesystem::path &patchPath, PatchCrcCheck check) {
    FileReader patch;
    if (!patch.open(patchPath))
        return {};
    return inspectUps(patch, check);
}

UpsInspection inspectUps(Reader &patch, PatchCrcCheck check) {
    UpsInspection result;
    const auto finish = [&](PatchRead outcome) {
        result.outcome = outcome;
        return result;
    };
    char magic[4];
    if (!patch.seek(0) || patch.read(magic, 4) != 4 || std::memcmp(magic, kUpsMagic, 4) != 0)
        return finish(PatchRead::NotAPatch);
    bool tooLong = false;
    const std::optional<UpsHeader> header = readUpsHeader(patch, &tooLong);
    if (tooLong)
        result.fault = PatchFault::NumberTooLong;
    if (!header)
        return finish(tooLong ? PatchRead::Damaged : PatchRead::CutShort);
    UpsHeader &h = result.header;
    h = *header;
    const std::optional<CrcFooter> crcs = readCrcFooter(patch, check);
    if (!crcs)
        return finish(PatchRead::Unreadable);
    h.inputCrc = crcs->source;
    h.outputCrc = crcs->target;
    h.patchCrc = crcs->patch;
    return finish(footerRead(*crcs, result.fault));
}

namespace {

// The patch `inspection` read, applied by `apply` with the engine's rules, its
// header reader and its check of the image (which must be the patch's input in
// some byte order: the result is made in that order and checked against the
// patch's output CRC-32).
template <typename Apply>
ApplyResult applyInspected(const UpsInspection &inspection, bool skipSourceCheck, Apply &&apply) {
    const UpsHeader &header = inspection.header;
    if (auto refused = refusedUnread(inspection.outcome, inspection.fault, header.outputSize))
        return *refused;
    const auto readHeader = [&](Reader &patch, PatchFileCheck &check) {
        check.recordsStart = header.hunksStart;
        return patch.seek(header.hunksStart) ? PatchFileOutcome::Valid
                                             : PatchFileOutcome::Unreadable;
    };
    const auto checkImage = [&](Reader &image, ApplyResult &result,
                                std::optional<ResultCheck> &check) -> std::optional<ApplyOutcome> {
        const SourceMatch match = matchSource(
            image, {header.inputSize, header.inputCrc, header.outputSize, header.outputCrc},
            skipSourceCheck, result);
        if (match.refusal)
            return match.refusal;
        check = ResultCheck{match.stored, result.readAs, header.outputCrc};
        return std::nullopt;
    };
    RecordRules rules;
    rules.open = [](Reader &patch) -> std::unique_ptr<RecordStream> {
        const std::int64_t start = patch.pos();
        const std::optional<UpsHeader> header = readUpsHeader(patch);
        if (!header || !patch.seek(start))
            return nullptr;
        return std::make_unique<UpsRecordReader>(patch, *header);
    };
    rules.xorInOffsetOrder = true;
    return apply(rules, HeaderReader(readHeader), ImageCheck(checkImage));
}

} // namespace

ApplyResult applyUps(const PatchJob &job) {
    return applyInspected(inspectUps(job.patchPath), job.skipSourceCheck,
                          [&](const RecordRules &rules, const HeaderReader &readHeader,
                              const ImageCheck &checkImage) {
                              return applyRecords(job, rules, readHeader, checkImage);
                          });
}

ApplyResult applyUpsTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck) {
    return applyInspected(inspectUps(patch), skipSourceCheck,
                          [&](const RecordRules &rules, const HeaderReader &readHeader,
                              const ImageCheck &checkImage) {
                              return applyRecordsTo(patch, image, place, rules, readHeader,
                                                    checkImage);
                          });
}

PatchSummary summarizeUps(const std::filesystem::path &patchPath, ReadDepth depth) {
    const UpsInspection ups = inspectUps(
        patchPath, depth == ReadDepth::Header ? PatchCrcCheck::Deferred : PatchCrcCheck::Whole);
    PatchSummary summary =
        sourceCrcSummary(PatchFormat::Ups, "ups-patch", "UPS patch", ups.outcome, ups.fault);
    if (!summary.readable())
        return summary;
    const UpsHeader &h = ups.header;
    summary.source = NamedSource{h.inputSize, h.inputCrc};
    summary.lines = {{"Source", sizeAndCrc(h.inputSize, h.inputCrc)},
                     {"Target", sizeAndCrc(h.outputSize, h.outputCrc)}};
    summary.fields = {{"inputSize", h.inputSize},
                      {"outputSize", h.outputSize},
                      {"inputCrc32", crc32Hex(h.inputCrc)},
                      {"outputCrc32", crc32Hex(h.outputCrc)},
                      {"patchCrc32", crc32Hex(h.patchCrc)}};
    return summary;
}

} // namespace tarnic
