#pragma once
// Reading and replacing files so that nothing is ever lost:
//  - only plain files are opened: a FIFO, device, socket or folder (directly or
//    through a symbolic link) is refused at once, never waited on;
//  - new content goes to a FileReplacement, a temporary file beside the target
//    that takes the target's place only once it is complete, checked and on
//    disk. Every write, the flush to disk and the rename are checked, so a
//    failure, a full disk or a killed process leaves either the old file or
//    the complete new one, and a failure is never reported as success.

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <functional>

namespace tarnic {

// The size of the pieces files are streamed in; memory use does not grow with
// the size of an image.
inline constexpr qint64 kCopyChunkSize = 1 << 20;

// True when `path` is marked read-only: no owner write permission (on Windows,
// the read-only attribute). Checked explicitly, because an administrator can
// open such a file for writing all the same.
bool isMarkedReadOnly(const QString &path);

// Opens `path` for reading when it is a plain file, following symbolic links.
// Anything else, or a file that cannot be opened, gives false at once.
bool openRegularFile(QFile &file, const QString &path);

// True when `path` is an existing plain file that is not marked read-only and
// can be opened for writing. The check neither creates nor changes the file.
bool isWritableFile(const QString &path);

// True when both paths exist and name the same file (through links or a
// second name).
bool sameFile(const QString &first, const QString &second);

// True when nothing is at `path`, or a file that isWritableFile() accepts: a
// place a FileReplacement may write to without overriding a read-only mark.
bool canBeCreatedOrReplaced(const QString &path);

// Reads `size` bytes, or fewer only where the device ends. Returns the count,
// or -1 when the device fails.
qint64 readFully(QIODevice &from, char *into, qint64 size);

// New content for an existing or new file. Nothing is visible at `target`
// until commit() succeeds; a replacement that is destroyed uncommitted leaves
// no trace. The new file gets the old one's permissions, and a symbolic link
// at `target` keeps pointing at the (new) file.
class FileReplacement {
  public:
    explicit FileReplacement(const QString &target);

    // Creates the temporary file in the target's folder.
    bool open();
    // Appends `size` bytes; false when any of them could not be written.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Writes at `offset`, which may lie past the end: the gap reads as zeros.
    bool writeAt(qint64 offset, const char *data, qint64 size);
    // Checks that the new content is exactly `expectedSize` bytes and flushes
    // it to disk. The target is not touched yet.
    bool finish(qint64 expectedSize);
    // Puts the finished content in the target's place in one step. False when
    // it was not finished or the rename fails; the target is then as it was.
    bool commit();

    // Marks the replacement failed for `reason` found outside it (a read of
    // its source failed, say): it can no longer be finished or committed.
    void fail(const QString &reason);
    // Why the last step failed, in the system's words ("No space left on
    // device"); empty while nothing has failed.
    QString errorString() const { return error_; }

  private:
    bool failWith(const QString &reason);

    QSaveFile file_;
    bool failed_ = false;
    bool finished_ = false;
    QString error_;
};

// Streams everything from the current position of `from` into `to`, passing each
// piece through `transform` first when one is given. Every piece but the last
// is kCopyChunkSize bytes. Returns false on a read or write failure, which `to`
// then reports.
using ChunkTransform = std::function<void(char *data, qint64 size)>;
bool copyStream(QIODevice &from, FileReplacement &to, const ChunkTransform &transform = {});

// Streams `from` through `transform` into a FileReplacement of `target`, which
// takes the target's place (or is created) only once it is exactly `length`
// bytes and on disk; the replaced file's blocks are freed in the background.
// On failure `whyNot`, when given, receives the system's reason.
bool replaceWithTransformed(QIODevice &from, qint64 length, const QString &target,
                            const ChunkTransform &transform, QString *whyNot = nullptr);

// Writes `content` as the whole new content of `path`, all or nothing.
bool replaceFileContent(const QString &path, const QByteArray &content);

// Overwrites `bytes.size()` bytes at `offset` of an existing plain file that
// is not marked read-only, all or nothing; the file's length never changes.
// Where the bytes lie inside one 512-byte sector of a file with a single name,
// they are written in place with one positioned write and flushed to disk (a
// sector is written whole or not at all, and a failed flush puts the old bytes
// back), so a large image is not copied for a few bytes. Elsewhere the whole
// file is rewritten through a FileReplacement. False on any failure, with the
// system's reason in `whyNot` when given.
bool replaceBytes(const QString &path, qint64 offset, const QByteArray &bytes,
                  QString *whyNot = nullptr);

// Gives a file "normal" attributes: on Windows clears read-only, hidden, system
// and archive; elsewhere leaves the permissions as they are. Returns false when
// that fails.
bool resetAttributesToNormal(const QString &path);

// Gives `backupPath` the content `filePath` has now, replacing any earlier file
// of that name in one step (never half-written), read-only or not. Where the
// file system allows, the backup becomes a second name of the file itself,
// which a later FileReplacement of the file leaves holding the old content;
// elsewhere the file is copied. Returns false when neither works, with the
// system's reason in `whyNot` when given.
bool keepAsBackup(const QString &filePath, const QString &backupPath, QString *whyNot = nullptr);

// Makes `backupPath` a file of its own again when it is a second name of
// `filePath` (after the file could not be replaced), by copying. Best effort.
void separateBackup(const QString &filePath, const QString &backupPath);

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
