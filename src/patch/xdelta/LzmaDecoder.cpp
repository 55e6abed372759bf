// xdelta's LZMA: one .xz stream (LZMA2, no check) for each kind of section,
// which goes on from window to window and is flushed, never ended, after each
// section.
#include "patch/xdelta/Secondary.h"

#if TARNIC_HAVE_LZMA
#include <lzma.h>
#endif

namespace tarnic {

#if TARNIC_HAVE_LZMA

namespace {

class LzmaDecoder final : public SecondaryDecoder {
  public:
    LzmaDecoder() {
        ready_ = lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_TELL_NO_CHECK) == LZMA_OK;
    }
    ~LzmaDecoder() override { lzma_end(&stream_); }
    LzmaDecoder(const LzmaDecoder &) = delete;
    LzmaDecoder &operator=(const LzmaDecoder &) = delete;

    bool decode(const std::uint8_t *in, std::size_t inSize, std::uint8_t *out,
                std::size_t outSize) override {
        if (!ready_)
            return false;
        stream_.next_in = in;
        stream_.avail_in = inSize;
        stream_.next_out = out;
        stream_.avail_out = outSize;
        while (stream_.avail_out > 0) {
            const lzma_ret step = lzma_code(&stream_, LZMA_RUN);
            if (step != LZMA_OK && step != LZMA_NO_CHECK) {
                // A stream that went wrong stays wrong for the sections after.
                ready_ = false;
                return false;
            }
        }
        return stream_.avail_in == 0;
    }

  private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool ready_ = false;
};

} // namespace

std::unique_ptr<SecondaryDecoder> makeLzmaDecoder() {
    return std::make_unique<LzmaDecoder>();
}

#else

std::unique_ptr<SecondaryDecoder> makeLzmaDecoder() {
    return nullptr;
}

#endif

} // namespace tarnic
