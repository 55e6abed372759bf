#pragma once
// New content for a file, put in its place only once it is complete, checked
// and on disk. Every write, the flush to disk and the rename are checked, so a
// failure, a full disk or a killed process leaves either the old file or the
// complete new one, and a failure is never reported as success.

#include "files/FileLock.h"
#include "io/Writer.h"

#include <string>

#include <filesystem>
#include <memory>

namespace tarnic {

// Nothing is visible at `target` until commit() succeeds; a replacement that
// is destroyed uncommitted leaves no trace. Where the system offers unnamed
// files (Linux's O_TMPFILE), the new content has no name at all until commit()
// names it, just before the rename; elsewhere it is written under a hidden
// name beside the target. The new file gets the old one's permissions, and
// its owner and group where the process may set them; a symbolic link at
// `target` keeps pointing at the (new) file.
class FileReplacement final : public Writer {
  public:
    explicit FileReplacement(const std::filesystem::path &target);
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // Creates the new, empty file in the target's folder.
    bool open();
    // Writing (io/Writer.h); on Windows what was written is never read back.
    bool writeAt(std::int64_t offset, const char *data, std::int64_t size) override;
    bool readAt(std::int64_t offset, char *data, std::int64_t size) override;
    // Checks that the new content is exactly `expectedSize` bytes and flushes
    // it to disk. The target is not touched yet.
    bool finish(std::int64_t expectedSize) override;
    // At commit, just before the rename, `path` must still be the file that
    // `identity` describes (same file, size and modification time); otherwise
    // nothing is replaced and targetChanged() is true.
    void requireUnchanged(const std::filesystem::path &path, const FileIdentity &identity);
    // Puts the finished content in the target's place in one step. False when
    // it was not finished, the file to keep unchanged changed, or the rename
    // fails; the target is then as it was.
    bool commit();

    // Marks the replacement failed for `reason` found outside it (a read of
    // its source failed, say): it can no longer be finished or committed.
    void fail(const std::string &reason) override;
    // Why the last step failed, in the system's words ("No space left on
    // device"); empty while nothing has failed.
    std::string errorString() const override { return error_; }
    // The commit found that the file to keep unchanged had changed.
    bool targetChanged() const { return targetChanged_; }
    // After a commit: empty when the rename is on disk too, else the
    // system's reason why the folder could not be flushed (the new content
    // is in place, but a power cut could still bring the old one back).
    std::string folderFlushError() const { return folderFlushError_; }

    // The file a replacement of `target` replaces: a symbolic link followed,
    // byte for byte, to the file it names.
    static std::filesystem::path resolvedTarget(const std::filesystem::path &target);
    // The hidden name the new content of `resolvedTarget(target)` takes for
    // the instant before the rename: ".<name>.tarnic-new" beside it.
    static std::filesystem::path stagingNameOf(const std::filesystem::path &target);

  private:
    struct Parts;
    bool failWith(const std::string &reason);

    std::unique_ptr<Parts> parts_;
    bool failed_ = false;
    bool finished_ = false;
    bool targetChanged_ = false;
    std::string error_;
    std::string folderFlushError_;
};

} // namespace tarnic
