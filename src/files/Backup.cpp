#include "files/Backup.h"

#include "files/FileReader.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "files/SystemCalls.h"

namespace tarnic {

namespace fs = std::filesystem;

fs::path backupNameOf(const fs::path &image) {
    return fs::path(image.native() + ".BAK");
}

fs::path backupStagingNameOf(const fs::path &backup) {
    return fs::path(backup.native() + ".tarnic-new");
}

namespace {

bool copyFile(const fs::path &from, const fs::path &to, std::string *whyNot) {
    FileReader file;
    FileReplacement copy(to);
    if (!file.open(from))
        copy.fail(std::string("the image cannot be read"));
    if (copy.open() && copyStream(file, copy) && copy.finish(file.size()) && copy.commit())
        return true;
    if (whyNot)
        *whyNot = copy.errorString();
    return false;
}

// The owner may need to write an earlier backup that is marked read-only.
void makeReplaceable(const fs::path &path) {
    std::error_code error;
    if (fs::exists(path, error)) {
        resetAttributesToNormal(path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, error);
    }
}

} // namespace

bool renameOver(const fs::path &from, const fs::path &to, std::string *whyNot,
                std::string *folderFlushError) {
    makeReplaceable(to);
    std::error_code error;
    fs::rename(from, to, error);
    if (error) {
        if (whyNot)
            *whyNot = error.message();
        return false;
    }
    const std::string flushed = system::flushFolder(fs::absolute(to, error).parent_path());
    if (folderFlushError)
        *folderFlushError = flushed;
    return true;
}

BackupReplacement::BackupReplacement(const fs::path &imagePath, const fs::path &backupPath)
    : imagePath_(imagePath), backupPath_(backupPath) {}

BackupReplacement::~BackupReplacement() {
    std::error_code error;
    if (prepared_ && !completed_ && !keepStaging_)
        fs::remove(stagingPath(), error);
}

bool BackupReplacement::prepare(std::string *whyNot) {
    const fs::path staging = stagingPath();
    std::error_code error;
    // Only a plain file of ours is ever at the staging name here: anything
    // else was refused before the run began.
    if (fs::is_regular_file(fs::symlink_status(staging, error)))
        fs::remove(staging, error);
    const fs::path image = fs::canonical(imagePath_, error);
    if (!error)
        fs::create_hard_link(image, staging, error);
    prepared_ = !error || copyFile(imagePath_, staging, whyNot);
    return prepared_;
}

bool BackupReplacement::complete(std::string *whyNot) {
    if (!prepared_)
        return false;
    std::error_code error;
    hadEarlier_ = fs::exists(fs::symlink_status(backupPath_, error));
    completed_ = renameOver(stagingPath(), backupPath_, whyNot, &folderFlushError_);
    keepStaging_ = !completed_;
    return completed_;
}

} // namespace tarnic
