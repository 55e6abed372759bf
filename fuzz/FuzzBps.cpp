// BPS application against a plain in-memory reference: the fuzzer's bytes are
// the actions (after two bytes giving the target size) of a patch whose CRC-32s
// are made right, so the actions themselves are what is tried. The image is
// the source, in cartridge order or byte-swapped. Whatever the actions, the
// program applies exactly what the reference applies, writes the result in
// the image's order, and refuses, writing nothing, what the reference refuses.
#include "FuzzInput.h"
#include "files/Crc32.h"
#include "patch/bps/Bps.h"
#include "patch/varint/Varint.h"
#include "rom/ByteOrderConversion.h"

#include <optional>

namespace {

std::optional<std::string> reference(const std::string &source, const std::string &actions,
                                     std::int64_t targetSize) {
    std::string target;
    std::int64_t at = 0;
    const auto next = [&]() -> std::optional<std::uint8_t> {
        if (at >= fuzzing::sizeOf(actions))
            return std::nullopt;
        return std::uint8_t(actions[at++]);
    };
    std::int64_t sourceCursor = 0, targetCursor = 0;
    while (at < fuzzing::sizeOf(actions)) {
        const auto action = tarnic::readVarint(next);
        if (!action || *action >> 2 >= std::uint64_t(targetSize))
            return std::nullopt;
        const std::int64_t length = std::int64_t(*action >> 2) + 1;
        if (fuzzing::sizeOf(target) + length > targetSize)
            return std::nullopt;
        const auto move = [&](std::int64_t &cursor) {
            const auto delta = tarnic::readVarint(next);
            if (!delta || (*delta >> 1) > (1ULL << 40))
                return false;
            cursor += (*delta & 1 ? -1 : 1) * std::int64_t(*delta >> 1);
            return true;
        };
        switch (*action & 3) {
        case 0:
            if (fuzzing::sizeOf(target) + length > fuzzing::sizeOf(source))
                return std::nullopt;
            target += fuzzing::mid(source, fuzzing::sizeOf(target), length);
            break;
        case 1:
            if (length > fuzzing::sizeOf(actions) - at)
                return std::nullopt;
            target += fuzzing::mid(actions, at, length);
            at += length;
            break;
        case 2:
            if (!move(sourceCursor) || sourceCursor < 0 ||
                sourceCursor + length > fuzzing::sizeOf(source))
                return std::nullopt;
            target += fuzzing::mid(source, sourceCursor, length);
            sourceCursor += length;
            break;
        case 3:
            if (!move(targetCursor) || targetCursor < 0 || targetCursor >= fuzzing::sizeOf(target))
                return std::nullopt;
            for (std::int64_t i = 0; i < length; ++i)
                target += target[targetCursor++];
            break;
        }
    }
    if (fuzzing::sizeOf(target) != targetSize)
        return std::nullopt;
    return target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 2)
        return 0;
    const std::string source = fuzzing::seedImage(7);
    const std::int64_t targetSize = ((data[0] | data[1] << 8) & 0x0FFF) | 4; // whole words
    const bool swapped = data[0] & 0x80;
    const std::string actions(reinterpret_cast<const char *>(data + 2), std::int64_t(size - 2));
    const std::optional<std::string> expected = reference(source, actions, targetSize);

    const std::string patch = fuzzing::namedSourcePatch(
        "BPS1", source, targetSize, std::string(1, char(0x80)), actions, expected);

    std::string image = source;
    std::optional<std::string> stored = expected;
    if (swapped) {
        swapBytePairs(image.data(), fuzzing::sizeOf(image));
        if (stored)
            swapBytePairs(stored->data(), stored->size());
    }
    fuzzing::checkApplication(patch, image, stored,
                              [](const PatchJob &job) { return applyBps(job); });
    return 0;
}
