// Patch creation between an image and edits of it that the input describes:
// applying the created patch (APS, and delta BPS) to the image must give the
// edited image byte for byte, growth included; and a delta BPS of the image
// with the same bytes inserted instead, which shifts what follows them.
#include "FuzzInput.h"
#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/aps/ApsFormat.h"
#include "patch/bps/Bps.h"

namespace {

std::filesystem::path fileWith(const char *name, const std::string &bytes) {
    return fuzzing::fileWith(name, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                             std::size_t(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The first half is the image (after a cartridge-order mark); the second
    // half, three bytes an edit, sets a byte at a position up to 1000 bytes
    // past the image's end.
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::string original =
        std::string("\x80\x37", 2) + fuzzing::mid(input, 0, std::int64_t(input.size() / 2));
    std::string modified = original;
    std::string shifted = original;
    const std::string edits = fuzzing::mid(input, std::int64_t(input.size() / 2));
    for (size_t i = 0; i + 2 < edits.size(); i += 3) {
        const size_t at =
            (std::uint8_t(edits[i]) << 8 | std::uint8_t(edits[i + 1])) % (original.size() + 1000);
        if (at >= modified.size())
            modified.append(at + 1 - modified.size(), '\0');
        modified[at] = edits[i + 2];
        shifted.insert(std::min(at, shifted.size()), 1, edits[i + 2]);
    }

    // The patch `create` makes from the original to `target`, applied by
    // `apply` to a copy of the original, must give `target`.
    const std::filesystem::path originalPath = fileWith("original.z64", original);
    const auto roundTrip = [&](auto create, auto apply, const std::string &target) {
        const std::filesystem::path patchPath = fuzzing::folder() / "made.patch";
        if (create(tarnic::CreateJob{originalPath, fileWith("modified.z64", target), patchPath,
                                     "fuzz"})
                .outcome != tarnic::CreateOutcome::Created)
            __builtin_trap();
        tarnic::PatchJob job;
        job.patchPath = patchPath;
        job.imagePath = fileWith("target.z64", original);
        if (apply(job).outcome != tarnic::ApplyOutcome::Applied ||
            fuzzing::contentOf(job.imagePath) != target)
            __builtin_trap();
    };
    roundTrip(tarnic::createApsPatch, tarnic::applyApsPatch, modified);
    roundTrip(tarnic::createBpsPatch, tarnic::applyBps, modified);
    roundTrip(tarnic::createBpsPatch, tarnic::applyBps, shifted);
    return 0;
}
