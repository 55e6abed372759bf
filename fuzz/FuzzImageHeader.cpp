// The image header of any file: never crashes, and a shown header has its
// fixed-width texts.
#include "FuzzInput.h"
#include "rom/ImageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    const ImageInspection r = inspectImage(fuzzing::fileWith("i.z64", data, size));
    if (r.outcome == ImageReadOutcome::Shown &&
        (r.display.RomCRCTxt.size() != 19 || r.display.RomHeaderTxT.size() != 20 ||
         r.display.RomCartIDTxT.size() != 2 || r.display.RomFormatTxt.size() != kImageNameWidth))
        __builtin_trap();
    return 0;
}
