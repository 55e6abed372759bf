#pragma once
// One writer at a time: an advisory lock that every Tarnic operation takes on
// the image it works on, for the whole operation, and the identity of a file
// (which file, its size and modification time) to tell whether another
// program changed it meanwhile.

#include <chrono>
#include <filesystem>
#include <optional>

namespace tarnic {

struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;
    bool operator==(const FileIdentity &) const = default;
};

// The identity of the file at `path` (following symbolic links); none when
// there is nothing there.
std::optional<FileIdentity> identityOf(const std::filesystem::path &path);
// True when the two identities are the same file (whatever its size and time).
inline bool sameFileAs(const FileIdentity &a, const FileIdentity &b) {
    return a.device == b.device && a.inode == b.inode;
}

// How long a second operation on the same file waits for the first.
inline constexpr std::chrono::milliseconds kLockPatience{5000};

class FileLock {
  public:
    enum class Outcome {
        Locked,  // this process alone works on the file until the lock is destroyed
        Busy,    // another process held the lock for longer than the patience allowed
        Missing, // nothing at the path, or not a plain file
    };

    // Locks the file at `path` (following symbolic links), waiting up to
    // `patience` for another holder to let go. Should the file be replaced
    // while this waits, the lock is taken on the file that is there now. A
    // file this process holds locked already (a row of patches holds its
    // image while each patch in it locks it again) is Locked at once.
    explicit FileLock(const std::filesystem::path &path,
                      std::chrono::milliseconds patience = kLockPatience);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    Outcome outcome() const { return outcome_; }
    // The file as it was when the lock was taken.
    const FileIdentity &identity() const { return identity_; }
    // Locked because this process held the lock already.
    bool heldBefore() const { return outcome_ == Outcome::Locked && !held_; }

  private:
    Outcome outcome_ = Outcome::Missing;
    FileIdentity identity_;
    int descriptor_ = -1;
    bool held_ = false; // this one took the lock, and lets go of it
};

} // namespace tarnic
