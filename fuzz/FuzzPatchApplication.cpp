// Patch application of any file onto a small image, against a reference
// applier written here from the format alone: the outcome and the image agree
// with it, and a refused patch leaves the image byte for byte as it was.
#include "FuzzInput.h"
#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"

#include <algorithm>
#include <cstring>

namespace {

using tarnic::ApplyOutcome;

std::string originalImage() {
    std::string image(4096, '\0');
    for (int i = 0; i < fuzzing::sizeOf(image); ++i)
        image[i] = char(i * 7 + 3);
    return image;
}

struct Reference {
    ApplyOutcome outcome;
    bool writable = true; // false: valid, but it writes too far out to compare here
};

// Applies `patch` to `image` by the book, or says why it is refused.
Reference referenceApply(const std::string &patch, std::string &image) {
    if (fuzzing::sizeOf(patch) < 5 || !patch.starts_with("APS10"))
        return {ApplyOutcome::NotAnApsFile};
    if (fuzzing::sizeOf(patch) < 7)
        return {ApplyOutcome::PatchTruncated};
    if (patch[6] != 0)
        return {ApplyOutcome::UnsupportedEncoding};
    // A simple patch (type 0) has a 61-byte header; every other type 78 bytes.
    const std::int64_t recordsFrom = patch[5] == 0 ? 61 : 78;
    if (fuzzing::sizeOf(patch) < recordsFrom)
        return {ApplyOutcome::PatchTruncated};
    std::string result = image;
    bool writable = true;
    const auto u8 = [&](std::int64_t i) { return std::uint32_t(std::uint8_t(patch[i])); };
    for (std::int64_t at = recordsFrom; at < fuzzing::sizeOf(patch);) {
        if (fuzzing::sizeOf(patch) - at < 5)
            return {ApplyOutcome::InvalidPatch};
        const auto offset =
            std::int32_t(u8(at) | u8(at + 1) << 8 | u8(at + 2) << 16 | u8(at + 3) << 24);
        const int length = int(u8(at + 4));
        const int need = length ? 5 + length : 7;
        if (fuzzing::sizeOf(patch) - at < need)
            return {ApplyOutcome::InvalidPatch};
        const int count = length ? length : int(u8(at + 6));
        if (offset < 0 || offset >= 0x7FFFFFFF || std::int64_t(offset) + count - 1 > 0x7FFFFFFF)
            return {ApplyOutcome::InvalidPatch};
        if (count > 0 && std::int64_t(offset) + count > (1 << 20))
            writable = false;
        if (writable && count > 0) {
            if (offset + count > fuzzing::sizeOf(result))
                result.append(std::string(offset + count - fuzzing::sizeOf(result), '\0'));
            for (int i = 0; i < count; ++i)
                result[offset + i] = length ? patch[at + 5 + i] : patch[at + 5];
        }
        at += need;
    }
    // The result grows with zeros to the header's image size, where an APS
    // offset reaches it.
    const std::uint32_t imageSize = u8(recordsFrom - 4) | u8(recordsFrom - 3) << 8 |
                                    u8(recordsFrom - 2) << 16 | u8(recordsFrom - 1) << 24;
    const bool grows = imageSize <= 0x7FFFFFFF && std::int64_t(imageSize) > fuzzing::sizeOf(result);
    if (grows && imageSize > (1u << 20))
        writable = false;
    if (writable && grows)
        result.append(std::string(imageSize - fuzzing::sizeOf(result), '\0'));
    image = result;
    return {ApplyOutcome::Applied, writable};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string patch(reinterpret_cast<const char *>(data), std::int64_t(size));
    const std::string before = originalImage();
    std::string expected = before;
    const Reference reference = referenceApply(patch, expected);

    tarnic::PatchJob job;
    job.patchPath = fuzzing::fileWith("fix.aps", data, size);
    job.imagePath =
        fuzzing::fileWith("game.z64", reinterpret_cast<const std::uint8_t *>(before.data()),
                          std::size_t(fuzzing::sizeOf(before)));
    // A patch that writes far past the small image is checked, then declined.
    job.confirm = [&] { return reference.writable; };
    const ApplyOutcome outcome = tarnic::applyApsPatch(job).outcome;
    const std::string after = fuzzing::contentOf(job.imagePath);
    const ApplyOutcome wanted = reference.writable ? reference.outcome : ApplyOutcome::Declined;
    if (outcome != wanted || after != (outcome == ApplyOutcome::Applied ? expected : before))
        __builtin_trap();
    return 0;
}
