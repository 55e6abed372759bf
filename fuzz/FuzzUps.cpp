// UPS application against a plain in-memory reference: the fuzzer's bytes are
// the hunks (after two bytes giving the output size) of a patch whose CRC-32s
// are made right, so the hunks themselves are what is tried. The program
// applies exactly what the reference applies, in the image's order, and
// refuses, writing nothing, what the reference refuses.
#include "FuzzInput.h"
#include "files/Crc32.h"
#include "patch/ups/Ups.h"
#include "patch/varint/Varint.h"
#include "rom/ByteOrderConversion.h"

#include <optional>

namespace {

std::optional<QByteArray> reference(const QByteArray &input, const QByteArray &hunks,
                                    qint64 outputSize) {
    QByteArray output(outputSize, '\0');
    const auto in = [&](qint64 at) { return at < input.size() ? input[at] : char(0); };
    qsizetype at = 0;
    qint64 cursor = 0;
    const auto next = [&]() -> std::optional<std::uint8_t> {
        if (at >= hunks.size())
            return std::nullopt;
        return std::uint8_t(hunks[at++]);
    };
    while (at < hunks.size()) {
        const auto skip = tarnic::readVarint(next);
        if (!skip || *skip > quint64((qint64(1) << 62) - cursor))
            return std::nullopt;
        for (qint64 p = cursor; p < std::min<qint64>(outputSize, cursor + qint64(*skip)); ++p)
            output[p] = in(p);
        cursor += qint64(*skip);
        for (char x = 1; x != 0; ++cursor) {
            if (at >= hunks.size())
                return std::nullopt;
            x = hunks[at++];
            if (cursor < outputSize)
                output[cursor] = char(in(cursor) ^ x);
        }
    }
    for (; cursor < outputSize; ++cursor)
        output[cursor] = in(cursor);
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 2)
        return 0;
    const QByteArray input = fuzzing::seedImage(5);
    const qint64 outputSize = ((data[0] | data[1] << 8) & 0x0FFF) & ~3;
    const bool swapped = data[0] & 0x80;
    const QByteArray hunks(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const std::optional<QByteArray> expected = reference(input, hunks, outputSize);
    if (expected && *expected == input)
        return 0; // then it is "already patched" as well as applicable

    const QByteArray patch =
        fuzzing::namedSourcePatch("UPS1", input, outputSize, QByteArray(), hunks, expected);

    QByteArray image = input;
    std::optional<QByteArray> stored = expected;
    if (swapped) {
        swapBytePairs(image.data(), image.size());
        if (stored)
            swapBytePairs(stored->data(), stored->size());
    }
    fuzzing::checkApplication(patch, image, stored,
                              [](const PatchJob &job) { return applyUps(job); });
    return 0;
}
