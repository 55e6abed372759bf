#include "patch/Ups.h"

#include "patch/ImageUpdate.h"
#include "patch/ReorderedImage.h"
#include "patch/Varint.h"

#include <QFile>
#include <QtEndian>

namespace tarnic {

namespace {

constexpr qint64 kFooterSize = 12;

std::optional<std::uint64_t> varintFrom(QIODevice &from) {
    return readVarint([&]() -> std::optional<std::uint8_t> {
        char c;
        if (!from.getChar(&c))
            return std::nullopt;
        return std::uint8_t(c);
    });
}

enum class Hunks { Applied, Invalid, ReadFailed, WriteFailed };

// Runs the hunks, then copies the rest of the input. Input bytes come from
// `input` while the cursor is inside it, zeros after; output bytes go to
// `output` while the cursor is inside the output size.
Hunks runHunks(QFile &patch, const UpsHeader &h, SourceBlocks &input, qint64 inputSize,
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
        const std::optional<std::uint64_t> skip = varintFrom(patch);
        if (!skip || *skip > std::uint64_t((qint64(1) << 62) - cursor))
            return Hunks::Invalid;
        if (!produce(qint64(*skip), nullptr))
            return Hunks::WriteFailed;
        xors.clear();
        for (char c = 1; c != 0;) {
            if (patch.pos() >= h.hunksEnd || !patch.getChar(&c))
                return Hunks::Invalid;
            xors.push_back(c);
        }
        if (!produce(qint64(xors.size()), xors.data()))
            return Hunks::WriteFailed;
    }
    if (patch.pos() != h.hunksEnd)
        return Hunks::Invalid;
    if (cursor < outputSize && !produce(outputSize - cursor, nullptr))
        return Hunks::WriteFailed;
    return Hunks::Applied;
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
    const auto input = varintFrom(patch);
    const auto output = varintFrom(patch);
    UpsHeader &h = result.header;
    if (!input || !output || patch.size() - patch.pos() < kFooterSize)
        return finish(ApplyOutcome::SourceTruncated);
    h.inputSize = *input;
    h.outputSize = *output;
    h.hunksStart = patch.pos();
    h.hunksEnd = patch.size() - kFooterSize;
    std::uint32_t crc = 0;
    std::vector<char> piece(kCopyChunkSize);
    if (!patch.seek(0))
        return finish(ApplyOutcome::SourceUnreadable);
    for (qint64 left = patch.size() - 4; left > 0;) {
        const qint64 n = std::min(left, kCopyChunkSize);
        if (readFully(patch, piece.data(), n) != n)
            return finish(ApplyOutcome::SourceUnreadable);
        crc = crc32(crc, piece.data(), size_t(n));
        left -= n;
    }
    char footer[kFooterSize];
    if (!patch.seek(h.hunksEnd) || readFully(patch, footer, kFooterSize) != kFooterSize)
        return finish(ApplyOutcome::SourceUnreadable);
    h.inputCrc = qFromLittleEndian<quint32>(footer);
    h.outputCrc = qFromLittleEndian<quint32>(footer + 4);
    return finish(crc == qFromLittleEndian<quint32>(footer + 8) ? ApplyOutcome::Applied
                                                                : ApplyOutcome::PatchCorrupted);
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

    ImageUpdate update(job);
    if (const auto refused = update.lockImage())
        return finish(*refused);
    QFile image;
    const SourceMatch match =
        matchSource(job, {h.inputSize, h.inputCrc, h.outputSize, h.outputCrc}, image, result);
    if (match.refusal)
        return finish(*match.refusal);

    if (job.confirm && !job.confirm())
        return finish(ApplyOutcome::Declined);
    if (job.workStarting)
        job.workStarting();
    if (const auto refused = update.startWriting())
        return finish(*refused);

    QFile patch;
    if (!openRegularFile(patch, job.patchPath) || !patch.seek(h.hunksStart))
        return finish(ApplyOutcome::SourceUnreadable);
    SourceBlocks input(image, image.size(), match.stored, result.readAs);
    TargetWriter output(update.replacement(), result.readAs, match.stored);
    switch (runHunks(patch, h, input, image.size(), output)) {
    case Hunks::Applied:
        break;
    case Hunks::Invalid:
        return finish(ApplyOutcome::InvalidPatch);
    case Hunks::ReadFailed:
        return finish(ApplyOutcome::SourceUnreadable);
    case Hunks::WriteFailed:
        return finish(update.putInPlace(false, result));
    }
    if (output.crc() != h.outputCrc)
        return finish(ApplyOutcome::ResultMismatch);
    result.bytesWritten = qint64(h.outputSize);
    const bool written = output.flush() && update.replacement().finish(qint64(h.outputSize));
    return finish(update.putInPlace(written, result));
}

} // namespace tarnic
