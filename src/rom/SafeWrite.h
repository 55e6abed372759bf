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

// Gives a file "normal" attributes before it is replaced: on Windows clears
// read-only, hidden, system and archive; elsewhere gives the owner write
// permission. Returns false when that fails.
bool resetAttributesToNormal(const QString &path);

} // namespace tarnic
