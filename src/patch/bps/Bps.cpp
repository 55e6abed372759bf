#include "patch/bps/Bps.h"

#include "patch/PatchFormat.h"

#include "files/Crc32.h"
#include "files/SafeWrite.h"
#include "patch/ImageUpdate.h"
#include "patch/source/SourceMatch.h"
#include "patch/varint/Varint.h"
#include "rom/ByteOrderConversion.h"

#include "files/FileReader.h"
#include "io/Endian.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

namespace tarnic {

namespace {

// Runs the actions from the patch's current position to `header.actionsEnd`.
// Where it returns Invalid, `fault` says why.
BodyRun runActions(Reader &patch, const BpsHeader &header, SourceBlocks &source,
                   std::int64_t sourceSize, TargetWriter &target, PatchFault &fault) {
    const auto invalid = [&fault](PatchFault why) {
        fault = why;
        return BodyRun::Invalid;
    };
    // A number that does not fit in 64 bits, or one that runs into the CRC-32s.
    const auto number = [&](std::optional<std::uint64_t> &value) {
        bool tooLong = false;
        value = readVarintFrom(patch, &tooLong);
        if (tooLong)
            return PatchFault::NumberTooLong;
        return value && patch.pos() <= header.actionsEnd ? PatchFault::None
                                                         : PatchFault::ActionCutShort;
    };
    const std::int64_t targetSize = std::int64_t(header.targetSize);
    std::int64_t sourceCursor = 0;
    std::int64_t targetCursor = 0;
    while (patch.pos() < header.actionsEnd) {
        std::optional<std::uint64_t> action;
        if (const PatchFault bad = number(action); bad != PatchFault::None)
            return invalid(bad);
        const std::int64_t out = target.size();
        if (*action >> 2 >= std::uint64_t(targetSize - out))
            return invalid(PatchFault::WritesPastTarget);
        const std::int64_t length = std::int64_t(*action >> 2) + 1;
        PatchFault moveFault = PatchFault::None;
        const auto move = [&](std::int64_t &cursor) {
            std::optional<std::uint64_t> delta;
            moveFault = number(delta);
            if (moveFault == PatchFault::None && (*delta >> 1) > std::uint64_t(1) << 62)
                moveFault = PatchFault::ReadsPastSource;
            if (moveFault != PatchFault::None)
                return false;
            cursor += (*delta & 1 ? -1 : 1) * std::int64_t(*delta >> 1);
            return true;
        };
        // Bytes from the source, from `from` on, straight into the target.
        const auto fromSource = [&source](std::int64_t from) {
            return [&source, from](char *into, std::int64_t n) mutable {
                const bool read = source.read(from, into, n);
                from += n;
                return read;
            };
        };
        bool ok = true;
        bool patchRead = true;
        switch (*action & 3) {
        case 0: // SourceRead
            if (out + length > sourceSize)
                return invalid(PatchFault::ReadsPastSource);
            ok = target.appendFrom(length, fromSource(out));
            break;
        case 1: // TargetRead
            if (length > header.actionsEnd - patch.pos())
                return invalid(PatchFault::ActionCutShort);
            ok = target.appendFrom(length, [&](char *into, std::int64_t n) {
                patchRead = patch.read(into, n) == n;
                return patchRead;
            });
            if (!patchRead)
                return BodyRun::ReadFailed;
            break;
        case 2: // SourceCopy
            if (!move(sourceCursor))
                return invalid(moveFault);
            if (sourceCursor < 0 || sourceCursor + length > sourceSize)
                return invalid(PatchFault::ReadsPastSource);
            ok = target.appendFrom(length, fromSource(sourceCursor));
            sourceCursor += length;
            break;
        case 3: // TargetCopy
            if (!move(targetCursor))
                return invalid(moveFault == PatchFault::ReadsPastSource
                                   ? PatchFault::CopyFromUnwritten
                                   : moveFault);
            if (targetCursor < 0 || targetCursor >= out)
                return invalid(PatchFault::CopyFromUnwritten);
            ok = target.copy(targetCursor, length);
            targetCursor += length;
            break;
        }
        if (!ok)
            return BodyRun::WriteFailed;
        if (patch.pos() > header.actionsEnd)
            return invalid(PatchFault::ActionCutShort);
    }
    return target.size() == targetSize ? BodyRun::Applied : invalid(PatchFault::ShortOutput);
}

} // namespace

BpsInspection inspectBps(const std::filesystem::path &patchPath, PatchCrcCheck check) {
    FileReader patch;
    if (!patch.open(patchPath))
        return {};
    return inspectBps(patch, check);
}

BpsInspection inspectBps(Reader &patch, PatchCrcCheck check) {
    BpsInspection result;
    const auto finish = [&](PatchRead outcome) {
        result.outcome = outcome;
        return result;
    };
    BpsHeader &h = result.header;
    char magic[4];
    if (!patch.seek(0) || patch.read(magic, 4) != 4 || std::memcmp(magic, kBpsMagic, 4) != 0)
        return finish(PatchRead::NotAPatch);
    bool tooLong = false;
    const auto source = readVarintFrom(patch, &tooLong);
    const auto target = readVarintFrom(patch, &tooLong);
    const auto metadata = readVarintFrom(patch, &tooLong);
    if (tooLong) {
        result.fault = PatchFault::NumberTooLong;
        return finish(PatchRead::Damaged);
    }
    const std::int64_t room = patch.size() - patch.pos() - kCrcFooterSize;
    if (!source || !target || !metadata || room < 0 || *metadata > std::uint64_t(room))
        return finish(PatchRead::CutShort);
    h.sourceSize = *source;
    h.targetSize = *target;
    // Only the start of an outsized text is kept: it is there to be shown.
    h.actionsStart = patch.pos() + std::int64_t(*metadata);
    h.metadata = patch.read(std::min(std::int64_t(*metadata), kMetadataKept));
    h.actionsEnd = patch.size() - kCrcFooterSize;

    const std::optional<CrcFooter> crcs = readCrcFooter(patch, check);
    if (!crcs)
        return finish(PatchRead::Unreadable);
    h.sourceCrc = crcs->source;
    h.targetCrc = crcs->target;
    h.patchCrc = crcs->patch;
    return finish(footerRead(*crcs, result.fault));
}

namespace {

// Adds the bytes [from, to) of the file to the CRC-32s of `orders`, the image
// read in each of their orders; positioned reads, so that two ranges can be
// read at once. False when a read fails.
bool crcsOfRange(Reader &image, std::int64_t from, std::int64_t to, ByteOrder own,
                 OrderedCrc *orders, size_t count) {
    // Other orders are made a small block at a time, so that the block is
    // reordered and summed while it is still in the processor's cache.
    constexpr std::int64_t kBlock = 16 * 1024;
    std::vector<char> piece(kCopyChunkSize);
    std::vector<char> reordered(kBlock);
    for (std::int64_t at = from; at < to;) {
        const std::int64_t n = std::min(kCopyChunkSize, to - at);
        if (!readAt(image, at, piece.data(), n))
            return false;
        for (std::int64_t block = 0; block < n; block += kBlock) {
            const std::int64_t m = std::min(kBlock, n - block);
            const char *bytes = piece.data() + block;
            for (size_t i = 0; i < count; ++i) {
                if (orders[i].order == own) {
                    orders[i].crc = crc32(orders[i].crc, bytes, size_t(m));
                    continue;
                }
                copyReordered(bytes, reordered.data(), m, own, orders[i].order);
                orders[i].crc = crc32(orders[i].crc, reordered.data(), size_t(m));
            }
        }
        at += n;
    }
    return true;
}

// The CRC-32s of the whole image in each of `orders` (their CRC-32s 0 to
// start with). A large image is cut into stretches that both cores take in
// turn, each stretch summed on its own and the sums joined in order at the
// end, so that a core slowed by other work simply takes fewer of them.
void crcsInOrders(Reader &image, ByteOrder own, OrderedCrc *orders, size_t count) {
    const std::int64_t size = image.size();
    if (size < 8 * kCopyChunkSize) {
        crcsOfRange(image, 0, size, own, orders, count);
        return;
    }
    constexpr std::int64_t kStretch = 4 * kCopyChunkSize; // whole words
    const size_t stretches = size_t((size + kStretch - 1) / kStretch);
    std::vector<OrderedCrc> sums;
    for (size_t k = 0; k < stretches; ++k)
        sums.insert(sums.end(), orders, orders + count);
    std::atomic<size_t> next{0};
    const auto sumStretches = [&] {
        for (size_t k; (k = next++) < stretches;) {
            const std::int64_t from = std::int64_t(k) * kStretch;
            crcsOfRange(image, from, std::min(size, from + kStretch), own, &sums[k * count], count);
        }
    };
    std::thread other(sumStretches);
    sumStretches();
    other.join();
    for (size_t i = 0; i < count; ++i) {
        std::uint32_t crc = 0;
        for (size_t k = 0; k < stretches; ++k) {
            const std::int64_t from = std::int64_t(k) * kStretch;
            crc =
                crc32Combine(crc, sums[k * count + i].crc, std::min(size, from + kStretch) - from);
        }
        orders[i].crc = crc;
    }
}

} // namespace

std::vector<OrderedCrc> imageCrcs(Reader &image, ByteOrder own,
                                  const std::function<bool(std::uint32_t)> &enough) {
    std::vector<OrderedCrc> crcs{{own, 0}};
    crcsInOrders(image, own, crcs.data(), 1);
    if ((enough && enough(crcs[0].crc)) || own == ByteOrder::Unknown)
        return crcs;
    for (const ByteOrder other : readableOrders(own)) {
        if (other != own)
            crcs.push_back({other, 0});
    }
    crcsInOrders(image, own, crcs.data() + 1, crcs.size() - 1);
    return crcs;
}

std::optional<CrcFooter> readCrcFooter(Reader &patch, PatchCrcCheck check) {
    CrcFooter crcs;
    const std::int64_t ownCrcAt = patch.size() - 4;
    if (ownCrcAt < 0 || !patch.seek(0))
        return std::nullopt;
    std::vector<char> piece(kCopyChunkSize);
    for (std::int64_t left = check == PatchCrcCheck::Whole ? ownCrcAt : 0; left > 0;) {
        const std::int64_t n = std::min(left, kCopyChunkSize);
        if (patch.read(piece.data(), n) != n)
            return std::nullopt;
        crcs.computed = crc32(crcs.computed, piece.data(), size_t(n));
        left -= n;
    }
    char footer[kCrcFooterSize];
    if (!patch.seek(patch.size() - kCrcFooterSize) ||
        patch.read(footer, kCrcFooterSize) != kCrcFooterSize)
        return std::nullopt;
    crcs.source = fromLittleEndian<std::uint32_t>(footer);
    crcs.target = fromLittleEndian<std::uint32_t>(footer + 4);
    crcs.patch = fromLittleEndian<std::uint32_t>(footer + 8);
    if (check == PatchCrcCheck::Deferred)
        crcs.computed = crcs.patch;
    return crcs;
}

SourceMatch matchSource(Reader &image, const NamedImages &named, bool skipSourceCheck,
                        ApplyResult &result) {
    HeaderBytes head;
    if (!readHeaderBytes(image, head))
        return {ApplyOutcome::DestinationUnwritable, ByteOrder::Unknown};
    result.expectedCrc = named.sourceCrc;
    const ByteOrder own = byteOrderOf(head);
    const std::uint64_t size = std::uint64_t(image.size());
    const auto isSource = [&](std::uint32_t crc) {
        return size == named.sourceSize && crc == named.sourceCrc;
    };
    const auto isTarget = [&](std::uint32_t crc) {
        return size == named.targetSize && crc == named.targetCrc;
    };
    const std::vector<OrderedCrc> crcs =
        imageCrcs(image, own, [&](std::uint32_t crc) { return isSource(crc) || isTarget(crc); });
    result.imageCrc = crcs.front().crc;
    const auto source = std::find_if(crcs.begin(), crcs.end(),
                                     [&](const OrderedCrc &c) { return isSource(c.crc); });
    if (source != crcs.end())
        result.readAs = source->order;
    else if (std::any_of(crcs.begin(), crcs.end(),
                         [&](const OrderedCrc &c) { return isTarget(c.crc); }))
        return {ApplyOutcome::AlreadyPatched, ByteOrder::Unknown};
    else if (skipSourceCheck)
        result.readAs = own;
    else
        return {ApplyOutcome::WrongImage, ByteOrder::Unknown};
    const ByteOrder stored = own == ByteOrder::Unknown ? result.readAs : own;
    return {std::nullopt, stored};
}

namespace {

// The actions of the patch `inspection` read, run by `apply` with them.
template <typename Apply>
ApplyResult applyInspected(const BpsInspection &inspection, Apply &&apply) {
    const BpsHeader &h = inspection.header;
    if (auto refused = refusedUnread(inspection.outcome, inspection.fault, h.targetSize))
        return *refused;
    PatchFault fault = PatchFault::None;
    ApplyResult result = apply(
        NamedImages{h.sourceSize, h.sourceCrc, h.targetSize, h.targetCrc}, h.actionsStart,
        [&](Reader &patch, SourceBlocks &source, std::int64_t imageSize, TargetWriter &target) {
            return runActions(patch, h, source,
                              std::min<std::int64_t>(imageSize, std::int64_t(h.sourceSize)), target,
                              fault);
        });
    if (result.outcome == ApplyOutcome::PatchBreaksItsRules)
        result.fault = fault;
    return result;
}

} // namespace

ApplyResult applyBps(const PatchJob &job) {
    return applyInspected(inspectBps(job.patchPath),
                          [&](const NamedImages &named, std::int64_t start, auto &&run) {
                              return applyNamedSourcePatch(job, named, start, run);
                          });
}

ApplyResult applyBpsTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck) {
    return applyInspected(
        inspectBps(patch), [&](const NamedImages &named, std::int64_t start, auto &&run) {
            ApplyResult result;
            result.outcome =
                applyNamedSourceTo(patch, image, place, named, skipSourceCheck, start, result, run);
            return result;
        });
}

PatchSummary summarizeBps(const std::filesystem::path &patchPath, ReadDepth depth) {
    const BpsInspection bps = inspectBps(
        patchPath, depth == ReadDepth::Header ? PatchCrcCheck::Deferred : PatchCrcCheck::Whole);
    PatchSummary summary =
        sourceCrcSummary(PatchFormat::Bps, "bps-patch", "BPS patch", bps.outcome, bps.fault);
    if (!summary.readable())
        return summary;
    const BpsHeader &h = bps.header;
    summary.source = NamedSource{h.sourceSize, h.sourceCrc};
    // Metadata is usually text (often XML); anything else is shown as its
    // bytes in hexadecimal rather than as replacement characters.
    const bool text = isUtf8Text(h.metadata);
    summary.description = text ? h.metadata : hexOf(h.metadata);
    summary.lines = {{"Source", sizeAndCrc(h.sourceSize, h.sourceCrc)},
                     {"Target", sizeAndCrc(h.targetSize, h.targetCrc)},
                     {text ? "Metadata" : "Metadata (hex)", summary.description}};
    summary.fields = {{"sourceSize", h.sourceSize},
                      {"targetSize", h.targetSize},
                      {"sourceCrc32", crc32Hex(h.sourceCrc)},
                      {"targetCrc32", crc32Hex(h.targetCrc)},
                      {"patchCrc32", crc32Hex(h.patchCrc)},
                      {text ? "metadata" : "metadataHex", summary.description}};
    return summary;
}

} // namespace tarnic
