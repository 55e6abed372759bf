// The image header of any file: never crashes, and a shown header has its
// fixed-width texts.
#include "FuzzInput.h"
#include "rom/ImageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    const ImageInspection r = inspectImage(fuzzing::fileWith("i.z64", data, size));
    // Widths in characters: the texts are UTF-8.
    const ImageDisplay &d = r.display;
    if (r.outcome == ImageReadOutcome::Shown &&
        (characterCount(d.RomCRCTxt) != 19 || characterCount(d.RomHeaderTxT) != 20 ||
         characterCount(d.RomCartIDTxT) != 2 ||
         characterCount(d.RomFormatTxt) != size_t(kImageNameWidth)))
        __builtin_trap();
    return 0;
}
