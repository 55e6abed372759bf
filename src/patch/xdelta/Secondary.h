#pragma once
// The secondary compression xdelta may put over a window's sections (data,
// instructions, addresses): one decoder per kind of section for the whole
// patch, fed that kind's sections in order, since a stream (LZMA's) or a model
// (FGK's) goes on from one window to the next. Each compressor has xdelta's
// own number; a build brings the decoders it can (this one: DJW and FGK of
// our own, LZMA through liblzma), and another front end (a web page without
// liblzma) can register its own for a number.
// Internal to src/patch.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tarnic {

// xdelta's numbers for its secondary compressors.
enum class SecondaryId : std::uint8_t { Djw = 1, Lzma = 2, Fgk = 16 };

class SecondaryDecoder {
  public:
    virtual ~SecondaryDecoder() = default;
    // Decodes the compressed bytes [in, in + inSize) of one section into
    // exactly `outSize` bytes at `out`. False when they do not decode to
    // exactly that, using every input byte.
    virtual bool decode(const std::uint8_t *in, std::size_t inSize, std::uint8_t *out,
                        std::size_t outSize) = 0;
};

using SecondaryFactory = std::unique_ptr<SecondaryDecoder> (*)();

// A new decoder for compressor `id`; none for a number this build cannot
// decode.
std::unique_ptr<SecondaryDecoder> makeSecondaryDecoder(std::uint8_t id);
// Whether this build decodes compressor `id`.
bool decodesSecondary(std::uint8_t id);
// Decodes compressor `id` with `factory` from now on, in place of any decoder
// the build has for it.
void registerSecondaryDecoder(std::uint8_t id, SecondaryFactory factory);
// Its name, as `info` shows it: "LZMA", "DJW", "FGK", or "number N".
const char *secondaryName(std::uint8_t id);

// The decoders of this build.
std::unique_ptr<SecondaryDecoder> makeDjwDecoder();
std::unique_ptr<SecondaryDecoder> makeFgkDecoder();
std::unique_ptr<SecondaryDecoder> makeLzmaDecoder(); // none without liblzma

} // namespace tarnic
