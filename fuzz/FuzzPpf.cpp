// PPF application against a plain in-memory reference: the fuzzer's bytes are
// the records (after a byte choosing the version, block check, undo data and
// whether the block check is the image's) and perhaps a FILE_ID.DIZ text. The program applies
// exactly what the reference applies and refuses, writing nothing, what it refuses.
#include "FuzzInput.h"
#include "patch/ppf/PpfFormat.h"

#include <optional>

namespace {

std::optional<std::string> reference(std::string image, const std::string &patch) {
    tarnic::MemoryReader buffer(patch);
    const tarnic::PpfLayout layout = tarnic::readPpfLayout(buffer);
    if (layout.version == 0)
        return std::nullopt;
    const int offsetSize = layout.version == 3 ? 8 : 4;
    for (std::int64_t at = layout.recordsStart; at < layout.recordsEnd;) {
        if (layout.recordsEnd - at < offsetSize + 1)
            return std::nullopt;
        std::uint64_t offset = 0;
        for (int i = offsetSize - 1; i >= 0; --i)
            offset = offset << 8 | std::uint8_t(patch[at + i]);
        const int length = std::uint8_t(patch[at + offsetSize]);
        at += offsetSize + 1;
        const std::int64_t stored = std::int64_t(length) * (layout.undoData ? 2 : 1);
        // (an offset near 2^64 would wrap round when its length is added)
        if (layout.recordsEnd - at < stored || offset > (std::uint64_t(1) << 31) ||
            offset + length > (std::uint64_t(1) << 31))
            return std::nullopt;
        if (offset + length > (std::uint64_t(1) << 24))
            throw std::length_error("beyond what this harness keeps in memory");
        if (length > 0) {
            if (offset + length > image.size())
                image.resize(size_t(offset + length), '\0');
            image.replace(size_t(offset), size_t(length), fuzzing::mid(patch, at, length));
        }
        at += stored;
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    if (size < 1)
        return 0;
    const int version = 1 + data[0] % 3;
    const bool blockCheck = data[0] & 4;
    const bool undo = data[0] & 8;
    // The image is too short to hold the block check, so it reads as zeros
    // there; a block of other bytes (or another size for PPF2) refuses it.
    const bool otherImage = data[0] & 16;
    const std::string image("A small image of some bytes.");
    const std::string block(1024, otherImage ? 'B' : '\0');
    std::string patch = "PPF" + std::to_string(version) + "0" + char(version - 1) +
                        std::string("Fuzzed") + std::string(44, ' ');
    if (version == 2)
        patch += std::string(1, char(image.size())) + std::string(3, '\0') + block;
    if (version == 3)
        patch += std::string(1, 0) + char(blockCheck) + char(undo) + '\0' +
                 (blockCheck ? block : std::string());
    patch += std::string(reinterpret_cast<const char *>(data + 1), std::int64_t(size - 1));
    std::optional<std::string> expected;
    try {
        expected = reference(image, patch);
    } catch (const std::length_error &) {
        return 0;
    }
    if (otherImage && (version == 2 || (version == 3 && blockCheck)))
        expected.reset();
    fuzzing::checkApplication(patch, image, expected,
                              [](const PatchJob &job) { return applyPpf(job); });
    return 0;
}
