#pragma once
// Reading and replacing files so that nothing is ever lost:
//  - only plain files are opened: a FIFO, device, socket or folder (directly or
//    through a symbolic link) is refused at once, never waited on;
//  - new content goes to a FileReplacement (files/FileReplacement.h), which
//    takes the target's place only once it is complete, checked and on disk.

#include "files/FileReplacement.h"
#include "io/Reader.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnic {

// The size of the pieces files are streamed in; memory use does not grow with
// the size of an image.
inline constexpr std::int64_t kCopyChunkSize = 1 << 20;

// True when `path` is marked read-only: no owner write permission (on Windows,
// the read-only attribute). Checked explicitly, because an administrator can
// open such a file for writing all the same.
bool isMarkedReadOnly(const std::filesystem::path &path);

// True when `path` is an existing plain file that is not marked read-only and
// can be opened for writing. The check neither creates nor changes the file.
bool isWritableFile(const std::filesystem::path &path);
// Why isWritableFile() says no ("marked read-only", "not a plain file", or
// the system's reason); empty when it says yes.
std::string whyNotWritable(const std::filesystem::path &path);

// True when both paths exist and name the same file (through links or a
// second name).
bool sameFile(const std::filesystem::path &first, const std::filesystem::path &second);

// True when nothing is at `path`, or a file that isWritableFile() accepts: a
// place a FileReplacement may write to without overriding a read-only mark.
bool canBeCreatedOrReplaced(const std::filesystem::path &path);

// Reads exactly `size` bytes at `offset`, whatever the reader's position.
bool readAt(Reader &from, std::int64_t offset, char *into, std::int64_t size);

// Streams everything from the current position of `from` into `to`, passing each
// piece through `transform` first when one is given. Every piece but the last
// is kCopyChunkSize bytes. Returns false on a read or write failure, which `to`
// then reports.
using ChunkTransform = std::function<void(char *data, std::int64_t size)>;
bool copyStream(Reader &from, Writer &to, const ChunkTransform &transform = {});

// How a whole-file write ended.
struct WriteStatus {
    enum Outcome {
        Written, // the new content is in place and on disk
        Failed,  // a read, write, flush or rename failed: the file as it was
        Changed, // the file to keep unchanged changed meanwhile: nothing replaced
    };
    Outcome outcome = Failed;
    std::string systemError; // the system's reason, where it gave one
    // Written, but the folder could not be flushed to disk: the reason.
    std::string folderFlushError;
    bool ok() const { return outcome == Written; }
};

// A file that must still be the one an operation read (see FileLock) when its
// result is put in place.
struct KeepUnchanged {
    std::filesystem::path path;
    FileIdentity identity;
};

// Streams `from` through `transform` into a FileReplacement of `target`, which
// takes the target's place (or is created) only once it is exactly `length`
// bytes and on disk, and `unchanged`, when given, is as it was; the replaced
// file's blocks are freed in the background.
WriteStatus replaceWithTransformed(Reader &from, std::int64_t length,
                                   const std::filesystem::path &target,
                                   const ChunkTransform &transform,
                                   const std::optional<KeepUnchanged> &unchanged = {});

// Writes `content` as the whole new content of `path`, all or nothing.
bool replaceFileContent(const std::filesystem::path &path, std::string_view content);

// Overwrites `bytes.size()` bytes at `offset` of an existing plain file that
// is not marked read-only, all or nothing; the file's length never changes.
// Where the bytes lie inside one 512-byte sector of a file with a single name,
// they are written in place with one positioned write and flushed to disk (a
// sector is written whole or not at all); should the write come up short or
// the flush fail, the old bytes are written back, flushed and read back to be
// sure, and where even that fails the whole file is rewritten with the new
// bytes (the in-place attempt being this program's own, the rewrite expects the
// file as that attempt left it). Elsewhere the whole file is rewritten through
// a FileReplacement, which `unchanged` applies to. Written only when the new
// bytes are in place.
WriteStatus replaceBytes(const std::filesystem::path &path, std::int64_t offset,
                         std::string_view bytes, std::optional<KeepUnchanged> unchanged = {});

// Gives a file "normal" attributes: on Windows clears read-only, hidden, system
// and archive; elsewhere leaves the permissions as they are. Returns false when
// that fails.
bool resetAttributesToNormal(const std::filesystem::path &path);

// Holds on to a file that is about to be replaced by a rename, so that freeing
// its blocks (tens of milliseconds for a large image) happens on a background
// thread once the replacement is done, not inside it. Where an open file cannot
// be replaced (Windows), it holds nothing.
class ReplacedFileRelease {
  public:
    explicit ReplacedFileRelease(const std::filesystem::path &path);
    ~ReplacedFileRelease();
    ReplacedFileRelease(const ReplacedFileRelease &) = delete;
    ReplacedFileRelease &operator=(const ReplacedFileRelease &) = delete;

  private:
    int descriptor_ = -1;
};

} // namespace tarnic
