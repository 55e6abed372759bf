#pragma once
// The backup of an image that is about to be replaced, made in two steps so
// that an earlier backup is replaced only once the new image is in place:
//   prepare()  keeps the image as it is now under a staging name beside the
//              backup (a second name of the file where the file system
//              allows, else a copy); the earlier backup is untouched;
//   complete() once the new image is in place, puts the kept image in the
//              backup's place, replacing the earlier backup in one step.
// A backup that is never completed is removed, so a run that fails leaves the
// earlier backup as it was, or none where there was none. A kill between the
// new image and complete() leaves the old image at the staging name; the next
// run on the same image completes that one first (files/OwnNames.h).

#include <string>

#include <filesystem>

namespace tarnic {

// Where an image's backup goes: "<image>.BAK", beside the name the user gave
// (a symbolic link's backup is beside the link).
std::filesystem::path backupNameOf(const std::filesystem::path &image);
// Where the image waits to become the backup: "<backup>.tarnic-new".
std::filesystem::path backupStagingNameOf(const std::filesystem::path &backup);

class BackupReplacement {
  public:
    BackupReplacement(const std::filesystem::path &imagePath,
                      const std::filesystem::path &backupPath);
    ~BackupReplacement();
    BackupReplacement(const BackupReplacement &) = delete;
    BackupReplacement &operator=(const BackupReplacement &) = delete;

    // False when the image could be neither linked nor copied; `whyNot`
    // then holds the system's reason.
    bool prepare(std::string *whyNot);
    // False when the rename failed: the old image then stays at
    // stagingPath(), which is kept.
    bool complete(std::string *whyNot);
    std::filesystem::path stagingPath() const { return backupStagingNameOf(backupPath_); }
    // Whether a backup was at the backup's name before complete().
    bool hadEarlier() const { return hadEarlier_; }
    // After complete(): empty when the rename is on disk, else why it may not be.
    std::string folderFlushError() const { return folderFlushError_; }

  private:
    std::filesystem::path imagePath_;
    std::filesystem::path backupPath_;
    bool prepared_ = false;
    bool completed_ = false;
    bool keepStaging_ = false;
    bool hadEarlier_ = false;
    std::string folderFlushError_;
};

// Puts `from` in the place of `to` in one step, making a read-only file at
// `to` replaceable first; false with the system's reason when it fails.
// `folderFlushError` gets why the rename may not be on disk yet, if it may not.
bool renameOver(const std::filesystem::path &from, const std::filesystem::path &to,
                std::string *whyNot, std::string *folderFlushError = nullptr);

} // namespace tarnic
