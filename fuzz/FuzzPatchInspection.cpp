// Patch inspection of any file: never crashes, and every text it shows has
// its fixed width (or is empty).
#include "FuzzInput.h"
#include "patch/aps/ApsInspection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    const ApsInspection r = inspectApsPatch(fuzzing::fileWith("p.aps", data, size));
    // Widths in characters: the texts are UTF-8.
    const auto width = [](const std::optional<std::string> &text, std::size_t expected) {
        if (text && !text->empty() && characterCount(*text) != expected)
            __builtin_trap();
    };
    width(r.display.PatchTypeTxT, kPatchNameWidth);
    width(r.display.PatchNfo, kDescriptionSize);
    width(r.display.BackupType, kImageNameWidth);
    width(r.display.CountryID, kImageNameWidth);
    // A simple patch names no image: its CRC text is empty.
    const std::size_t crcWidth = r.header.PatchType == kSimplePatchType ? 0 : 19;
    if (r.outcome == InspectionOutcome::Shown && characterCount(*r.display.PTCRC) != crcWidth)
        __builtin_trap();
    return 0;
}
