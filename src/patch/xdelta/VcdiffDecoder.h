#pragma once
// Decoding one window of a VCDIFF patch into its result: its sections read
// (and secondary-decompressed), its instructions run through the default code
// table and the address caches. Internal to src/patch/xdelta.

#include "patch/PatchSummary.h"
#include "patch/source/SourceMatch.h"
#include "patch/xdelta/Secondary.h"
#include "patch/xdelta/Vcdiff.h"

#include <array>
#include <memory>
#include <vector>

namespace tarnic {

class VcdiffDecoder {
  public:
    // For a patch whose sections are compressed with xdelta's compressor
    // `secondary` (0: none).
    explicit VcdiffDecoder(std::uint8_t secondary) : secondary_(secondary) {}

    enum class Step {
        Decoded,      // `out` holds the window's result
        Broken,       // the window breaks the format's rules (`fault()` says how)
        ReadFailed,   // the patch could not be read
        PastImage,    // its source segment lies past the end of the image
        SourceFailed, // the image could not be read
    };
    // Decodes `window` (the next one: compressed sections go on from the
    // window before) with `source`, the image of `imageSize` bytes, into `out`.
    Step decode(Reader &patch, const VcdiffWindow &window, SourceBlocks &source,
                std::int64_t imageSize, std::vector<char> &out);
    PatchFault fault() const { return fault_; }

  private:
    Step broken(PatchFault fault) {
        fault_ = fault;
        return Step::Broken;
    }
    Step readSections(Reader &patch, const VcdiffWindow &window);
    Step run(const VcdiffWindow &window, SourceBlocks &source, std::vector<char> &out);

    std::uint8_t secondary_;
    std::array<std::unique_ptr<SecondaryDecoder>, 3> decoders_;
    std::array<std::vector<std::uint8_t>, 3> sections_; // data, instructions, addresses
    std::vector<std::uint8_t> stored_;
    PatchFault fault_ = PatchFault::None;
};

} // namespace tarnic
