// Applying an xdelta patch: which byte order of the image is its source, then
// every window decoded, checked and written in the image's own order.
#include "files/Crc32.h"
#include "patch/PatchFormat.h"
#include "patch/source/SourceMatch.h"
#include "patch/xdelta/Vcdiff.h"
#include "patch/xdelta/VcdiffDecoder.h"

#include "files/FileReader.h"

namespace tarnic {

namespace {

std::uint32_t adlerOf(const std::vector<char> &bytes) {
    return adler32(1, bytes.data(), bytes.size());
}

// Decodes the windows in order with the image read through `source`, handing
// each result to `take(window, out)`, which returns false to stop there. None
// once every window is decoded or `take` stopped; else the refusal, with
// `result` saying why (WrongImage: a source segment past the image's end).
template <typename Take>
std::optional<ApplyOutcome> decodeWindows(Reader &patch, const VcdiffInspection &vc,
                                          SourceBlocks &source, Reader &image, ApplyResult &result,
                                          Take &&take) {
    VcdiffDecoder decoder(vc.secondary);
    std::vector<char> out;
    for (const VcdiffWindow &window : vc.windows) {
        switch (decoder.decode(patch, window, source, image.size(), out)) {
        case VcdiffDecoder::Step::Decoded:
            break;
        case VcdiffDecoder::Step::PastImage:
            return ApplyOutcome::WrongImage;
        case VcdiffDecoder::Step::Broken:
            result.fault = decoder.fault();
            return ApplyOutcome::PatchBreaksItsRules;
        case VcdiffDecoder::Step::ReadFailed:
            return ApplyOutcome::PatchUnreadable;
        case VcdiffDecoder::Step::SourceFailed:
            result.systemError = image.errorString();
            return ApplyOutcome::WriteFailed;
        }
        if (!take(window, out))
            return std::nullopt;
    }
    return std::nullopt;
}

// Whether the image already is the patch's result, in some order: its size,
// and the Adler-32 of each of its windows.
bool isResult(Reader &image, const VcdiffInspection &vc, ByteOrder stored) {
    if (std::uint64_t(image.size()) != vc.resultSize)
        return false;
    for (const ByteOrder order : readableOrders(stored)) {
        SourceBlocks bytes(image, image.size(), stored, order);
        std::vector<char> piece;
        bool all = true;
        for (const VcdiffWindow &window : vc.windows) {
            if (!window.adler32)
                continue;
            std::uint32_t sum = 1;
            for (std::uint64_t at = 0; at < window.length && all;) {
                const std::uint64_t n = std::min<std::uint64_t>(window.length - at, 1 << 20);
                piece.resize(size_t(n));
                all = bytes.read(std::int64_t(window.resultOffset + at), piece.data(),
                                 std::int64_t(n));
                sum = adler32(sum, piece.data(), size_t(n));
                at += n;
            }
            if (!all || sum != *window.adler32) {
                all = false;
                break;
            }
        }
        if (all)
            return true;
    }
    return false;
}

// The order in which `image` is the source of the patch `vc`: set in
// `readAs`; none when nothing proves it. Otherwise the refusal.
struct SourceFound {
    std::optional<ApplyOutcome> refusal;
    std::optional<ByteOrder> order;
};

SourceFound findSource(Reader &patch, const VcdiffInspection &vc, Reader &image, ByteOrder stored,
                       ApplyResult &result) {
    const VcdiffWindow *proving = vc.provingWindow();
    if (!proving)
        return {};
    // An image the patch would leave as it is (where the patch carries what
    // it changes, it makes its result of the result too) is its result already.
    if (isResult(image, vc, stored))
        return {ApplyOutcome::AlreadyPatched, {}};
    for (const ByteOrder order : readableOrders(stored)) {
        SourceBlocks source(image, image.size(), stored, order);
        bool matched = false;
        const auto refused =
            decodeWindows(patch, vc, source, image, result,
                          [&](const VcdiffWindow &window, const std::vector<char> &out) {
                              matched = &window == proving && adlerOf(out) == *window.adler32;
                              return &window != proving;
                          });
        if (matched)
            return {std::nullopt, order};
        if (refused && refused != ApplyOutcome::WrongImage)
            return {refused, {}};
    }
    return {ApplyOutcome::WrongImage, {}};
}

ApplyOutcome applyVcdiff(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck,
                         ApplyResult &result) {
    const VcdiffInspection vc = inspectVcdiff(patch, true);
    if (const auto refused = refusedUnread(vc.outcome, vc.fault, vc.resultSize)) {
        result.fault = refused->fault;
        return refused->outcome;
    }
    HeaderBytes head;
    if (!readHeaderBytes(image, head))
        return ApplyOutcome::DestinationUnwritable;
    const ByteOrder own = byteOrderOf(head);
    const SourceFound found = findSource(patch, vc, image, own, result);
    const bool forced = skipSourceCheck && found.refusal == ApplyOutcome::WrongImage;
    if (found.refusal && !forced)
        return *found.refusal;
    result.readAs = found.order.value_or(own);
    const ByteOrder stored = own == ByteOrder::Unknown ? result.readAs : own;
    if (const auto refused = place.startWriting())
        return *refused;

    SourceBlocks source(image, image.size(), stored, result.readAs);
    TargetWriter target(place.writer(), result.readAs, stored);
    bool writeFailed = false;
    const auto refused =
        decodeWindows(patch, vc, source, image, result,
                      [&](const VcdiffWindow &window, const std::vector<char> &out) {
                          if (window.adler32 && adlerOf(out) != *window.adler32) {
                              result.fault = PatchFault::WindowChecksumWrong;
                              return false;
                          }
                          writeFailed = !target.append(out.data(), std::int64_t(out.size()));
                          return !writeFailed;
                      });
    if (refused == ApplyOutcome::WriteFailed)
        place.writer().fail(result.systemError);
    if (writeFailed || refused == ApplyOutcome::WriteFailed)
        return place.putInPlace(false, result);
    if (refused)
        return *refused;
    if (result.fault == PatchFault::WindowChecksumWrong)
        return ApplyOutcome::ResultMismatch;
    result.records = std::int64_t(vc.windows.size());
    result.bytesWritten = std::int64_t(vc.resultSize);
    const bool written = target.flush() && place.writer().finish(std::int64_t(vc.resultSize));
    return place.putInPlace(written, result);
}

} // namespace

ApplyResult applyXdelta(const PatchJob &job) {
    return applyToFiles(job,
                        [&](Reader &patch, Reader &image, ResultPlace &place, ApplyResult &result) {
                            return applyVcdiff(patch, image, place, job.skipSourceCheck, result);
                        });
}

ApplyResult applyXdeltaTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck) {
    ApplyResult result;
    result.outcome = applyVcdiff(patch, image, place, skipSourceCheck, result);
    return result;
}

std::optional<ByteOrder> xdeltaSourceOrder(const std::filesystem::path &patchPath,
                                           const std::filesystem::path &imagePath) {
    FileReader patch;
    FileReader image;
    HeaderBytes head;
    if (!patch.open(patchPath) || !image.open(imagePath) || !readHeaderBytes(image, head))
        return std::nullopt;
    const VcdiffInspection vc = inspectVcdiff(patch, true);
    if (vc.outcome != PatchRead::Readable)
        return std::nullopt;
    // A patch that never reads its source makes its result of any image.
    if (!vc.provingWindow())
        return byteOrderOf(head);
    ApplyResult result;
    return findSource(patch, vc, image, byteOrderOf(head), result).order;
}

} // namespace tarnic
