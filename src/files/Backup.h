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
// backup of the same image completes that one first.

#include <QString>

namespace tarnic {

class BackupReplacement {
  public:
    BackupReplacement(const QString &imagePath, const QString &backupPath);
    ~BackupReplacement();
    BackupReplacement(const BackupReplacement &) = delete;
    BackupReplacement &operator=(const BackupReplacement &) = delete;

    // False when the image could be neither linked nor copied; `whyNot`
    // then holds the system's reason.
    bool prepare(QString *whyNot);
    // False when the rename failed: the old image then stays at
    // stagingPath(), which is kept.
    bool complete(QString *whyNot);
    // Where prepare() keeps the image: "<backup>.tarnic-new".
    QString stagingPath() const { return backupPath_ + QStringLiteral(".tarnic-new"); }

  private:
    void settleLeftover();

    QString imagePath_;
    QString backupPath_;
    bool prepared_ = false;
    bool completed_ = false;
    bool keepStaging_ = false;
};

} // namespace tarnic
