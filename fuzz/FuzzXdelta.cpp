// xdelta application against a plain in-memory reference. The fuzzer's bytes:
// a selector, the window's length (two bytes), the lengths of its data and
// instruction sections (a byte each), then the sections, the address section
// last. Without secondary compression (selector & 3 == 0) the window reads
// the whole seed image as its source and carries the Adler-32 of what the
// reference makes of it, so the instructions themselves are what is tried: the
// program applies exactly what the reference applies and refuses, writing
// nothing, what it refuses. With DJW, LZMA or FGK the sections the selector
// marks are handed to that decoder as they are, in two windows (a stream or a
// model goes on from one to the next): whatever they hold, a result is as long
// as the windows or nothing is written.
#include "FuzzInput.h"
#include "files/Crc32.h"
#include "patch/ResultPlace.h"
#include "patch/xdelta/Vcdiff.h"

#include <array>
#include <optional>
#include <vector>

namespace {

std::string number(std::uint64_t value) {
    std::string bytes(1, char(value & 0x7F));
    while (value >>= 7)
        bytes.insert(bytes.begin(), char(0x80 | (value & 0x7F)));
    return bytes;
}

std::optional<std::uint64_t> numberAt(const std::string &bytes, std::size_t &at) {
    std::uint64_t value = 0;
    for (int count = 0; count < 10 && at < bytes.size(); ++count) {
        const auto byte = std::uint8_t(bytes[at++]);
        if (value >> 57)
            return std::nullopt;
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            return value;
    }
    return std::nullopt;
}

// RFC 3284's default code table: each entry two (type, size, mode) halves,
// type 0 nothing, 1 ADD, 2 RUN, 3 COPY.
struct Half {
    int type = 0, size = 0, mode = 0;
};
std::vector<std::array<Half, 2>> codeTable() {
    std::vector<std::array<Half, 2>> table{{Half{2, 0, 0}, Half{}}};
    for (int size = 0; size <= 17; ++size)
        table.push_back({Half{1, size, 0}, Half{}});
    for (int mode = 0; mode <= 8; ++mode) {
        table.push_back({Half{3, 0, mode}, Half{}});
        for (int size = 4; size <= 18; ++size)
            table.push_back({Half{3, size, mode}, Half{}});
    }
    for (int mode = 0; mode <= 5; ++mode)
        for (int add = 1; add <= 4; ++add)
            for (int copy = 4; copy <= 6; ++copy)
                table.push_back({Half{1, add, 0}, Half{3, copy, mode}});
    for (int mode = 6; mode <= 8; ++mode)
        for (int add = 1; add <= 4; ++add)
            table.push_back({Half{1, add, 0}, Half{3, 4, mode}});
    for (int mode = 0; mode <= 8; ++mode)
        table.push_back({Half{3, 4, mode}, Half{1, 1, 0}});
    return table;
}

std::optional<std::string> reference(const std::string &source, std::uint64_t length,
                                     const std::string &data, const std::string &instructions,
                                     const std::string &addresses) {
    static const std::vector<std::array<Half, 2>> table = codeTable();
    const std::uint64_t segment = source.size();
    std::size_t d = 0, i = 0, a = 0;
    std::uint64_t near[4] = {}, same[768] = {};
    int nextNear = 0;
    std::string out;
    while (i < instructions.size()) {
        for (const Half &half : table[std::uint8_t(instructions[i++])]) {
            if (half.type == 0)
                continue;
            std::uint64_t size = std::uint64_t(half.size);
            if (size == 0) {
                const auto given = numberAt(instructions, i);
                if (!given)
                    return std::nullopt;
                size = *given;
            }
            if (size > length - out.size())
                return std::nullopt;
            if (half.type == 1) {
                if (data.size() - d < size)
                    return std::nullopt;
                out += data.substr(d, size);
                d += size;
            } else if (half.type == 2) {
                if (d >= data.size())
                    return std::nullopt;
                out.append(size, data[d++]);
            } else {
                const std::uint64_t here = segment + out.size();
                std::uint64_t address;
                if (half.mode >= 6) {
                    if (a >= addresses.size())
                        return std::nullopt;
                    address = same[(half.mode - 6) * 256 + std::uint8_t(addresses[a++])];
                } else {
                    const auto value = numberAt(addresses, a);
                    if (!value || (half.mode == 1 && *value > here))
                        return std::nullopt;
                    address = half.mode == 0   ? *value
                              : half.mode == 1 ? here - *value
                                               : near[half.mode - 2] + *value;
                }
                if (address >= here)
                    return std::nullopt;
                near[nextNear] = address;
                nextNear = (nextNear + 1) % 4;
                same[address % 768] = address;
                if (address < segment) {
                    if (size > segment - address)
                        return std::nullopt;
                    out += source.substr(address, size);
                } else {
                    for (std::uint64_t k = 0; k < size; ++k)
                        out += out[address - segment + k];
                }
            }
        }
    }
    if (out.size() != length || d != data.size() || a != addresses.size())
        return std::nullopt;
    return out;
}

std::string window(std::uint8_t indicator, std::uint64_t length, std::uint32_t adler,
                   std::uint8_t compressed, const std::string &data,
                   const std::string &instructions, const std::string &addresses,
                   std::uint64_t segment) {
    std::string rest = number(length) + char(compressed) + number(data.size()) +
                       number(instructions.size()) + number(addresses.size());
    if (indicator & 4)
        for (int shift = 24; shift >= 0; shift -= 8)
            rest += char(adler >> shift);
    rest += data + instructions + addresses;
    std::string head(1, char(indicator));
    if (indicator & 1)
        head += number(segment) + number(0);
    return head + number(rest.size()) + rest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 5)
        return 0;
    const std::string source = fuzzing::seedImage(5);
    const std::uint8_t selector = data[0];
    const std::uint64_t length = (data[1] | data[2] << 8) & 0x0FFF;
    const std::string bytes(reinterpret_cast<const char *>(data + 5), size - 5);
    std::size_t at = 0;
    const auto take = [&](std::size_t count) {
        const std::string part = bytes.substr(at, count);
        at = std::min(bytes.size(), at + count);
        return part;
    };
    const std::string dataSection = take(data[3]);
    const std::string instructions = take(data[4]);
    const std::string addresses = take(bytes.size());
    const std::string header("\xD6\xC3\xC4\0", 4);

    if ((selector & 3) == 0) {
        std::optional<std::string> expected =
            reference(source, length, dataSection, instructions, addresses);
        const std::uint32_t adler =
            expected ? adler32(1, expected->data(), expected->size()) : 0xDEADBEEF;
        // An image the patch leaves as it is is refused as already patched.
        if (expected == source)
            expected.reset();
        const std::string patch =
            header + '\0' +
            window(5, length, adler, 0, dataSection, instructions, addresses, source.size());
        fuzzing::checkApplication(patch, source, expected,
                                  [](const PatchJob &job) { return applyXdelta(job); });
        return 0;
    }
    static constexpr std::uint8_t kIds[] = {0, 1, 2, 16};
    const std::uint8_t compressed = (selector >> 2) & 7;
    const std::string body =
        window(0, length, 0, compressed, dataSection, instructions, addresses, 0);
    const std::string patch = header + '\1' + char(kIds[selector & 3]) + body + body;
    MemoryReader patchBytes(patch);
    MemoryReader image(source);
    MemoryResult result;
    const ApplyResult applied = applyXdeltaTo(patchBytes, image, result, true);
    if (applied.outcome == ApplyOutcome::Applied ? result.bytes().size() != 2 * length
                                                 : !result.bytes().empty())
        __builtin_trap();
    return 0;
}
