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

std::optional<std::string> reference(const std::string &input, const std::string &hunks,
                                     std::int64_t outputSize) {
    std::string output(outputSize, '\0');
    const auto in = [&](std::int64_t at) {
        return at < fuzzing::sizeOf(input) ? input[at] : char(0);
    };
    std::int64_t at = 0;
    std::int64_t cursor = 0;
    const auto next = [&]() -> std::optional<std::uint8_t> {
        if (at >= fuzzing::sizeOf(hunks))
            return std::nullopt;
        return std::uint8_t(hunks[at++]);
    };
    while (at < fuzzing::sizeOf(hunks)) {
        const auto skip = tarnic::readVarint(next);
        if (!skip || *skip > std::uint64_t((std::int64_t(1) << 62) - cursor))
            return std::nullopt;
        for (std::int64_t p = cursor;
             p < std::min<std::int64_t>(outputSize, cursor + std::int64_t(*skip)); ++p)
            output[p] = in(p);
        cursor += std::int64_t(*skip);
        for (char x = 1; x != 0; ++cursor) {
            if (at >= fuzzing::sizeOf(hunks))
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
    const std::string input = fuzzing::seedImage(5);
    const std::int64_t outputSize = ((data[0] | data[1] << 8) & 0x0FFF) & ~3;
    const bool swapped = data[0] & 0x80;
    const std::string hunks(reinterpret_cast<const char *>(data + 2), std::int64_t(size - 2));
    const std::optional<std::string> expected = reference(input, hunks, outputSize);
    if (expected && *expected == input)
        return 0; // then it is "already patched" as well as applicable

    const std::string patch =
        fuzzing::namedSourcePatch("UPS1", input, outputSize, std::string(), hunks, expected);

    std::string image = input;
    std::optional<std::string> stored = expected;
    if (swapped) {
        swapBytePairs(image.data(), fuzzing::sizeOf(image));
        if (stored)
            swapBytePairs(stored->data(), stored->size());
    }
    fuzzing::checkApplication(patch, image, stored,
                              [](const PatchJob &job) { return applyUps(job); });
    return 0;
}
