// IPS and IPS32 application against a plain in-memory reference: the fuzzer's
// bytes are the patch (after "PATCH" or "IPS32", chosen by the first byte).
// The program applies exactly what the reference applies and refuses, writing
// nothing, what the reference refuses. Nothing is written past 2^31 - 1.
#include "FuzzInput.h"
#include "patch/PatchApplication.h"
#include "patch/ips/IpsFormat.h"

#include <optional>

namespace {

struct TooLarge {};

std::optional<std::string> reference(std::string image, const std::string &body, bool ips32) {
    const int offsetSize = ips32 ? 4 : 3;
    const auto number = [&](std::int64_t at, int size) {
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | std::uint8_t(body[at + i]);
        return value;
    };
    std::int64_t at = 0;
    for (;;) {
        if (fuzzing::sizeOf(body) - at < offsetSize)
            return std::nullopt;
        if (fuzzing::mid(body, at, offsetSize) == (ips32 ? "EEOF" : "EOF")) {
            const std::int64_t rest = fuzzing::sizeOf(body) - at - offsetSize;
            if (rest == 0)
                return image;
            if (ips32 || rest != 3)
                return std::nullopt;
            image.resize(std::int64_t(number(at + offsetSize, 3)), '\0');
            return image;
        }
        const std::int64_t offset = std::int64_t(number(at, offsetSize));
        at += offsetSize;
        if (fuzzing::sizeOf(body) - at < 2)
            return std::nullopt;
        const std::int64_t size = std::int64_t(number(at, 2));
        at += 2;
        std::string data;
        if (size > 0) {
            if (fuzzing::sizeOf(body) - at < size)
                return std::nullopt;
            data = fuzzing::mid(body, at, size);
            at += size;
        } else {
            if (fuzzing::sizeOf(body) - at < 3)
                return std::nullopt;
            const std::int64_t count = std::int64_t(number(at, 2));
            if (count == 0)
                return std::nullopt;
            data = std::string(count, body[at + 2]);
            at += 3;
        }
        if (offset + fuzzing::sizeOf(data) > (std::int64_t(1) << 31))
            return std::nullopt; // past what any record may write
        if (offset + fuzzing::sizeOf(data) > (std::int64_t(1) << 26))
            throw TooLarge{}; // beyond what this harness keeps in memory
        if (offset + fuzzing::sizeOf(data) > fuzzing::sizeOf(image))
            image.resize(offset + fuzzing::sizeOf(data), '\0');
        image.replace(offset, fuzzing::sizeOf(data), data);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 1)
        return 0;
    const bool ips32 = data[0] & 1;
    const std::string body(reinterpret_cast<const char *>(data + 1), std::int64_t(size - 1));
    const std::string image("A small image of some bytes.");
    std::optional<std::string> expected;
    try {
        expected = reference(image, body, ips32);
    } catch (const TooLarge &) {
        return 0;
    }
    const std::string patch = (ips32 ? std::string("IPS32") : std::string("PATCH")) + body;
    fuzzing::checkApplication(patch, image, expected,
                              [](const PatchJob &job) { return applyIps(job); });
    return 0;
}
