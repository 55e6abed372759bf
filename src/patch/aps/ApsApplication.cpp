#include "patch/aps/ApsFormat.h"

#include "files/SafeWrite.h"
#include "patch/records/RecordEngine.h"
#include "rom/ImageHeader.h"

#include "io/Endian.h"

#include <cstring>

namespace tarnic {

namespace {

// Reads and checks the header from the start of `patch`, leaving the file at
// the record stream.
PatchFileOutcome readApsHeader(Reader &patch, PatchFileCheck &check) {
    char head[kApsHeaderSize];
    constexpr std::int64_t kFixedPart = kMagicSize + 2; // magic, type, encoding
    const std::int64_t got = patch.read(head, kFixedPart);
    if (got < 0)
        return PatchFileOutcome::Unreadable;
    if (got < kMagicSize || std::memcmp(head, kApsMagic, kMagicSize) != 0)
        return PatchFileOutcome::NotAnApsFile;
    if (got < kFixedPart)
        return PatchFileOutcome::Truncated;
    if (head[6] != 0)
        return PatchFileOutcome::UnsupportedEncoding;
    check.patchType = std::uint8_t(head[5]);
    check.recordsStart = recordStreamStart(check.patchType);
    const std::int64_t rest = recordStreamStart(check.patchType) - kFixedPart;
    const std::int64_t restGot = patch.read(head + kFixedPart, rest);
    if (restGot < 0)
        return PatchFileOutcome::Unreadable;
    if (restGot < rest)
        return PatchFileOutcome::Truncated;
    check.declaredImageSize =
        fromLittleEndian<std::uint32_t>(head + imageSizeOffset(check.patchType));
    // The size of the image the author made: the result grows to it where the
    // records end before it (writers leave trailing zeros out). A size past
    // what APS offsets reach is no image's, and is left alone.
    if (check.declaredImageSize <= kLastWritableOffset)
        check.growTo = check.declaredImageSize;
    if (check.patchType != kSimplePatchType)
        check.targetFormat = std::uint8_t(head[57]);
    return PatchFileOutcome::Valid;
}

// APS offsets run from 0 to 2^31 - 2; a stream that breaks that is the
// patch's fault as APS tells it ("Error Openning Source File:").
RecordRules apsRules() {
    RecordRules rules;
    rules.open = [](Reader &patch) { return std::make_unique<ApsRecordReader>(patch); };
    rules.lastStart = kLastWritableOffset - 1;
    rules.invalid = ApplyOutcome::InvalidPatch;
    return rules;
}

} // namespace

PatchFileCheck checkApsFile(const std::filesystem::path &patchPath) {
    return checkRecordFile(patchPath, apsRules(), readApsHeader);
}

namespace {

// The header reader and the image check of an APS patch, for `apply`: a patch
// that names the byte order of its image (type 1) is applied in that order to
// the image in whichever order the image is stored in, each piece put in the
// patch's order for its records and back.
template <typename Apply> ApplyResult applyAps(Apply &&apply) {
    PatchFileCheck header;
    const auto readHeader = [&header](Reader &patch, PatchFileCheck &check) {
        const PatchFileOutcome outcome = readApsHeader(patch, check);
        header = check;
        return outcome;
    };
    const auto inItsOrder = [&](Reader &image, ApplyResult &result,
                                std::optional<ResultCheck> &check) -> std::optional<ApplyOutcome> {
        HeaderBytes head;
        if (header.patchType != kN64PatchType || header.targetFormat > 1 ||
            !readHeaderBytes(image, head))
            return std::nullopt;
        const ByteOrder patchOrder = ByteOrder(header.targetFormat);
        const ByteOrder stored = byteOrderOf(head);
        result.readAs = patchOrder;
        if (stored != ByteOrder::Unknown && stored != patchOrder)
            check = ResultCheck{stored, patchOrder, std::nullopt};
        return std::nullopt;
    };
    return apply(HeaderReader(readHeader), ImageCheck(inItsOrder));
}

} // namespace

ApplyResult applyApsPatch(const PatchJob &job) {
    return applyAps([&](const HeaderReader &readHeader, const ImageCheck &checkImage) {
        return applyRecords(job, apsRules(), readHeader, checkImage);
    });
}

ApplyResult applyApsPatchTo(Reader &patch, Reader &image, ResultPlace &place, bool) {
    return applyAps([&](const HeaderReader &readHeader, const ImageCheck &checkImage) {
        return applyRecordsTo(patch, image, place, apsRules(), readHeader, checkImage);
    });
}

} // namespace tarnic
