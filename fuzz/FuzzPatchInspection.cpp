// Patch inspection of any file: never crashes, and every text it shows has
// its fixed width (or is empty).
#include "FuzzInput.h"
#include "patch/aps/ApsInspection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    const ApsInspection r = inspectApsPatch(fuzzing::fileWith("p.aps", data, size));
    const auto width = [](const std::optional<QString> &text, qsizetype expected) {
        if (text && !text->isEmpty() && text->size() != expected)
            __builtin_trap();
    };
    width(r.display.PatchTypeTxT, kPatchNameWidth);
    width(r.display.PatchNfo, kDescriptionSize);
    width(r.display.BackupType, kImageNameWidth);
    width(r.display.CountryID, kImageNameWidth);
    // A simple patch names no image: its CRC text is empty.
    const qsizetype crcWidth = r.header.PatchType == kSimplePatchType ? 0 : 19;
    if (r.outcome == InspectionOutcome::Shown && r.display.PTCRC->size() != crcWidth)
        __builtin_trap();
    return 0;
}
