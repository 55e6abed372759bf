#pragma once
// Helpers for rewriting files so that a failure, a full disk or a killed process
// leaves either the old file or the complete new one: new content goes to a
// QSaveFile (a temporary file in the same folder, flushed to disk and renamed
// over the original on commit, keeping the original's permissions).

#include <QString>

#include <functional>

class QIODevice;

namespace tarnic {

// The size of the pieces files are streamed in; memory use does not grow with
// the size of an image.
inline constexpr qint64 kCopyChunkSize = 1 << 20;

// True when `path` is marked read-only: no owner write permission (on Windows,
// the read-only attribute). Checked explicitly, because an administrator can
// open such a file for writing all the same.
bool isMarkedReadOnly(const QString &path);

// True when `path` is an existing plain file that is not marked read-only and
// can be opened for writing. The check neither creates nor changes the file.
bool isWritableFile(const QString &path);

// Reads `size` bytes, or fewer only where the device ends. Returns the count,
// or -1 when the device fails.
qint64 readFully(QIODevice &from, char *into, qint64 size);

// Streams everything from the current position of `from` into `to`, passing each
// piece through `transform` first when one is given. Returns false on a read or
// write failure.
using ChunkTransform = std::function<void(char *data, qint64 size)>;
bool copyStream(QIODevice &from, QIODevice &to, const ChunkTransform &transform = {});

// Gives a file "normal" attributes: on Windows clears read-only, hidden, system
// and archive; elsewhere leaves the permissions as they are. Returns false when
// that fails.
bool resetAttributesToNormal(const QString &path);

// Gives `backupPath` the content `filePath` has now, replacing any earlier file
// of that name at once (never half-written). Where the file system allows, the
// backup becomes a second name of the file itself, which a later replacement of
// the file by a QSaveFile leaves holding the old content; elsewhere the file is
// copied. Returns false when neither works.
bool keepAsBackup(const QString &filePath, const QString &backupPath);

// Holds on to a file that is about to be replaced by a rename, so that freeing
// its blocks (tens of milliseconds for a large image) happens on a background
// thread once the replacement is done, not inside it. Where an open file cannot
// be replaced (Windows), it holds nothing.
class ReplacedFileRelease {
  public:
    explicit ReplacedFileRelease(const QString &path);
    ~ReplacedFileRelease();
    ReplacedFileRelease(const ReplacedFileRelease &) = delete;
    ReplacedFileRelease &operator=(const ReplacedFileRelease &) = delete;

  private:
    int descriptor_ = -1;
};

} // namespace tarnic
