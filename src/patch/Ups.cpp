#include "patch/Ups.h"

#include "patch/ImageUpdate.h"
#include "patch/ReorderedImage.h"
#include "patch/Varint.h"

#include <QFile>
#include <QtEndian>

namespace tarnic {

namespace {

// Runs the hunks, then copies the rest of the input. Input bytes come from
// `input` while the cursor is inside it, zeros after; output bytes go to
// `output` while the cursor is inside the output size.
BodyRun runHunks(QFile &patch, const UpsHeader &h, SourceBlocks &input, qint64 inputSize,
                 TargetWriter &output) {
    const qint64 outputSize = qint64(h.outputSize);
    qint64 cursor = 0;
    std::vector<char> piece;
    // `count` bytes at the cursor, XORed with `mask` where given; what lies
    // past the output size is dropped without being worked out.
    const auto produce = [&](qint64 count, const char *mask) {
        const qint64 useful = std::clamp(outputSize - cursor, qint64(0), count);
        for (qint64 done = 0; done < useful;) {
            const qint64 n = std::min<qint64>(useful - done, 64 * 1024);
            const qint64 at = cursor + done;
            piece.assign(size_t(n), '\0');
            const qint64 fromInput = std::clamp(inputSize - at, qint64(0), n);
            if (fromInput > 0 && !input.read(at, piece.data(), fromInput))
                return false;
            if (mask) {
                for (qint64 i = 0; i < n; ++i)
                    piece[size_t(i)] ^= mask[done + i];
            }
            if (!output.append(piece.data(), n))
                return false;
            done += n;
        }
        cursor += count;
        return true;
    };
    std::vector<char> xors;
    while (patch.pos() < h.hunksEnd) {
        const std::optional<std::uint64_t> skip = readVarintFrom(patch);
        if (!skip || *skip > std::uint64_t((qint64(1) << 62) - cursor))
            return BodyRun::Invalid;
        if (!produce(qint64(*skip), nullptr))
            return BodyRun::WriteFailed;
        xors.clear();
        for (char c = 1; c != 0;) {
            if (patch.pos() >= h.hunksEnd || !patch.getChar(&c))
                return BodyRun::Invalid;
            xors.push_back(c);
        }
        if (!produce(qint64(xors.size()), xors.data()))
            return BodyRun::WriteFailed;
    }
    if (patch.pos() != h.hunksEnd)
        return BodyRun::Invalid;
    if (cursor < outputSize && !produce(outputSize - cursor, nullptr))
        return BodyRun::WriteFailed;
    return BodyRun::Applied;
}

} // namespace

UpsInspection inspectUps(const QString &patchPath) {
    UpsInspection result;
    QFile patch;
    if (!openRegularFile(patch, patchPath))
        return result;
    const auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    char magic[4];
    if (readFully(patch, magic, 4) != 4 || std::memcmp(magic, kUpsMagic, 4) != 0)
        return finish(ApplyOutcome::NotAnApsFile);
    const auto input = readVarintFrom(patch);
    const auto output = readVarintFrom(patch);
    UpsHeader &h = result.header;
    if (!input || !output || patch.size() - patch.pos() < kCrcFooterSize)
        return finish(ApplyOutcome::SourceTruncated);
    h.inputSize = *input;
    h.outputSize = *output;
    h.hunksStart = patch.pos();
    h.hunksEnd = patch.size() - kCrcFooterSize;
    std::uint32_t computed = 0;
    std::uint32_t stored = 0;
    char footer[kCrcFooterSize];
    if (!patchCrc(patch, computed, stored) || !patch.seek(h.hunksEnd) ||
        readFully(patch, footer, kCrcFooterSize) != kCrcFooterSize)
        return finish(ApplyOutcome::SourceUnreadable);
    h.inputCrc = qFromLittleEndian<quint32>(footer);
    h.outputCrc = qFromLittleEndian<quint32>(footer + 4);
    return finish(computed == stored ? ApplyOutcome::Applied : ApplyOutcome::PatchCorrupted);
}

ApplyResult applyUps(const PatchJob &job) {
    ApplyResult result;
    const auto finish = [&](ApplyOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    const UpsInspection inspection = inspectUps(job.patchPath);
    if (inspection.outcome != ApplyOutcome::Applied)
        return finish(inspection.outcome);
    const UpsHeader &h = inspection.header;
    return applyNamedSourcePatch(
        job, {h.inputSize, h.inputCrc, h.outputSize, h.outputCrc}, h.hunksStart,
        [&](QFile &patch, SourceBlocks &input, qint64 imageSize, TargetWriter &output) {
            return runHunks(patch, h, input, imageSize, output);
        });
}

} // namespace tarnic
