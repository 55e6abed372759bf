// BPS application against a plain in-memory reference: the fuzzer's bytes are
// the actions (after two bytes giving the target size) of a patch whose CRC-32s
// are made right, so the actions themselves are what is tried. The image is
// the source, in cartridge order or byte-swapped. Whatever the actions, the
// program applies exactly what the reference applies, writes the result in
// the image's order, and refuses, writing nothing, what the reference refuses.
#include "FuzzInput.h"
#include "patch/bps/Bps.h"
#include "files/Crc32.h"
#include "patch/varint/Varint.h"
#include "rom/ByteOrderConversion.h"

#include <optional>

namespace {

std::optional<QByteArray> reference(const QByteArray &source, const QByteArray &actions,
                                    qint64 targetSize) {
    QByteArray target;
    qsizetype at = 0;
    const auto next = [&]() -> std::optional<std::uint8_t> {
        if (at >= actions.size())
            return std::nullopt;
        return std::uint8_t(actions[at++]);
    };
    qint64 sourceCursor = 0, targetCursor = 0;
    while (at < actions.size()) {
        const auto action = tarnic::readVarint(next);
        if (!action || *action >> 2 >= std::uint64_t(targetSize))
            return std::nullopt;
        const qint64 length = qint64(*action >> 2) + 1;
        if (target.size() + length > targetSize)
            return std::nullopt;
        const auto move = [&](qint64 &cursor) {
            const auto delta = tarnic::readVarint(next);
            if (!delta || (*delta >> 1) > (1ULL << 40))
                return false;
            cursor += (*delta & 1 ? -1 : 1) * qint64(*delta >> 1);
            return true;
        };
        switch (*action & 3) {
        case 0:
            if (target.size() + length > source.size())
                return std::nullopt;
            target += source.mid(target.size(), length);
            break;
        case 1:
            if (length > actions.size() - at)
                return std::nullopt;
            target += actions.mid(at, length);
            at += length;
            break;
        case 2:
            if (!move(sourceCursor) || sourceCursor < 0 || sourceCursor + length > source.size())
                return std::nullopt;
            target += source.mid(sourceCursor, length);
            sourceCursor += length;
            break;
        case 3:
            if (!move(targetCursor) || targetCursor < 0 || targetCursor >= target.size())
                return std::nullopt;
            for (qint64 i = 0; i < length; ++i)
                target += target[targetCursor++];
            break;
        }
    }
    if (target.size() != targetSize)
        return std::nullopt;
    return target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 2)
        return 0;
    const QByteArray source = fuzzing::seedImage(7);
    const qint64 targetSize = ((data[0] | data[1] << 8) & 0x0FFF) | 4; // whole words
    const bool swapped = data[0] & 0x80;
    const QByteArray actions(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const std::optional<QByteArray> expected = reference(source, actions, targetSize);

    const QByteArray patch = fuzzing::namedSourcePatch(
        "BPS1", source, targetSize, QByteArray(1, char(0x80)), actions, expected);

    QByteArray image = source;
    std::optional<QByteArray> stored = expected;
    if (swapped) {
        swapBytePairs(image.data(), image.size());
        if (stored)
            swapBytePairs(stored->data(), stored->size());
    }
    fuzzing::checkApplication(patch, image, stored,
                              [](const PatchJob &job) { return applyBps(job); });
    return 0;
}
