#pragma once
// The PPF patch (PlayStation Patch File), versions 1 to 3:
//
//   offset  size  PPF1 ("PPF10", 0)   PPF2 ("PPF20", 1)   PPF3 ("PPF30", 2)
//        0     5  magic               magic               magic
//        5     1  method              method              method
//        6    50  description         description         description
//       56     4  records             input image size    image type, block check,
//                                                         undo data, (unused)
//       60  1024  -                   block-check data    block-check data, if flagged
//
// Records start at 56 (PPF1), 1084 (PPF2), and at 1084 or, without block
// check, 60 (PPF3). A record is an offset (4 bytes little-endian; PPF3 8), a
// length (1 byte) and that many bytes, followed in PPF3 with undo data by the
// original bytes. PPF2 and PPF3 may end with a FILE_ID.DIZ text:
// "@BEGIN_FILE_ID.DIZ", the text, "@END_FILE_ID.DIZ" and its length (PPF2 4
// bytes, PPF3 2). The undo data is not used here.
//
// The block-check data is the 1024 bytes the image the patch was made for
// holds at 0x9320 (PPF3 image type 1: 0x80A0; type 2: 0x8000); an image too
// short for them is compared as if zeros followed it. PPF2 also gives that
// image's size.

#include "patch/records/RecordStream.h"

#include "patch/PatchApplication.h"
#include "patch/PatchSummary.h"
#include "patch/ResultPlace.h"

#include "io/Reader.h"
#include <string>

#include <array>
#include <filesystem>
#include <optional>

namespace tarnic {

inline constexpr std::int64_t kPpfDescriptionOffset = 6;
inline constexpr std::int64_t kPpfDescriptionSize = 50;

// What a PPF patch's header says.
struct PpfLayout {
    // Readable, or why not (the rest then left empty).
    PatchRead read = PatchRead::CutShort;
    int version = 0; // 1, 2 or 3
    std::int64_t recordsStart = 0;
    std::int64_t recordsEnd = 0;            // where the FILE_ID.DIZ text starts, or the end
    bool undoData = false;                  // PPF3: each record carries the original bytes too
    int imageType = 0;                      // PPF3: 0 a BIN image, 1 a GI image, 2 an ISO
    std::string description;                // the 50 characters, trailing spaces removed
    std::string fileIdDiz;                  // the FILE_ID.DIZ text, if there is one
    std::string blockCheck;                 // the 1024 bytes of the block check; empty without one
    std::int64_t blockCheckAt = 0;          // where in the image they are
    std::optional<std::uint32_t> imageSize; // PPF2: the size of the image it was made for
};

// Whether the image at `imagePath` is the one the patch's block check and size
// describe, in the order the image is stored in or another.
ImageBlockCheck checkPpfImage(const PpfLayout &layout, const std::filesystem::path &imagePath);
ImageBlockCheck checkPpfImage(const PpfLayout &layout, Reader &image);
// The same for the patch at `patchPath`.
ImageBlockCheck checkPpfImageFile(const std::filesystem::path &patchPath,
                                  const std::filesystem::path &imagePath);

// What the patch says of itself; with ReadDepth::Whole, every record read.
PatchSummary summarizePpf(const std::filesystem::path &patchPath, ReadDepth depth);

// Reads the header and the FILE_ID.DIZ trailer; `read` says whether the patch
// is one this reads.
PpfLayout readPpfLayout(Reader &patch);

class PpfRecordReader : public RecordStream {
  public:
    PpfRecordReader(Reader &stream, const PpfLayout &layout) : stream_(stream), layout_(layout) {}
    Step next(PatchRecord &record) override;

  private:
    Reader &stream_;
    PpfLayout layout_;
    std::array<char, 255> data_{};
};

// Applies a PPF patch of version 1, 2 or 3 with the record engine, refused
// (WrongImage, or OtherByteOrder) when the image is not the one its block
// check and size describe; the undo data is not used.
ApplyResult applyPpf(const PatchJob &job);
// The same on a patch and an image read from anywhere, the result put in
// `place`.
ApplyResult applyPpfTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

} // namespace tarnic
