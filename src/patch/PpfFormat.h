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
// bytes, PPF3 2). The block-check data and undo data are not used here.

#include "patch/ApsFormat.h"

#include <QIODevice>
#include <QString>

#include <array>

namespace tarnic {

inline constexpr qint64 kPpfDescriptionOffset = 6;
inline constexpr qint64 kPpfDescriptionSize = 50;

// What a PPF patch's header says.
struct PpfLayout {
    int version = 0; // 1, 2 or 3; 0: not a PPF patch this reads
    qint64 recordsStart = 0;
    qint64 recordsEnd = 0; // where the FILE_ID.DIZ text starts, or the end
    bool undoData = false; // PPF3: each record carries the original bytes too
    QString description;   // the 50 characters, trailing spaces removed
    QString fileIdDiz;     // the FILE_ID.DIZ text, if there is one
};

// Reads the header and the FILE_ID.DIZ trailer; version 0 when the patch is
// not one (or is cut short inside its header).
PpfLayout readPpfLayout(QIODevice &patch);

class PpfRecordReader {
  public:
    using Step = PatchRecordReader::Step;

    PpfRecordReader(QIODevice &stream, const PpfLayout &layout)
        : stream_(stream), layout_(layout) {}
    Step next(PatchRecord &record);

  private:
    QIODevice &stream_;
    PpfLayout layout_;
    std::array<char, 255> data_{};
};

} // namespace tarnic
