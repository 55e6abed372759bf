#include "files/Backup.h"

#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "files/SystemCalls.h"

#include <QFileInfo>

#include <filesystem>

namespace tarnic {

namespace {

namespace fs = std::filesystem;

// The file itself, not a symbolic link that leads to it.
fs::path realFile(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? fs::path() : QFileInfo(target).filesystemFilePath();
}

bool copyFile(const QString &from, const QString &to, QString *whyNot) {
    QFile file;
    FileReplacement copy(to);
    if (!openRegularFile(file, from))
        copy.fail(QStringLiteral("the image cannot be read"));
    if (copy.open() && copyStream(file, copy) && copy.finish(file.size()) && copy.commit())
        return true;
    if (whyNot)
        *whyNot = copy.errorString();
    return false;
}

bool sameContent(const QString &first, const QString &second) {
    QFile a;
    QFile b;
    if (!openRegularFile(a, first) || !openRegularFile(b, second) || a.size() != b.size())
        return false;
    while (!a.atEnd()) {
        if (a.read(kCopyChunkSize) != b.read(kCopyChunkSize))
            return false;
    }
    return true;
}

// The owner may need to write an earlier backup that is marked read-only.
void makeReplaceable(const QString &path) {
    if (QFileInfo::exists(path)) {
        resetAttributesToNormal(path);
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
    }
}

bool renameOver(const QString &from, const QString &to, QString *whyNot) {
    makeReplaceable(to);
    std::error_code error;
    fs::rename(QFileInfo(from).filesystemAbsoluteFilePath(),
               QFileInfo(to).filesystemAbsoluteFilePath(), error);
    if (error) {
        if (whyNot)
            *whyNot = QString::fromLocal8Bit(error.message());
        return false;
    }
    system::flushFolder(QFileInfo(to).absolutePath());
    return true;
}

} // namespace

BackupReplacement::BackupReplacement(const QString &imagePath, const QString &backupPath)
    : imagePath_(imagePath), backupPath_(backupPath) {}

BackupReplacement::~BackupReplacement() {
    if (prepared_ && !completed_ && !keepStaging_)
        QFile::remove(stagingPath());
}

// A staging file left by a killed process is either still the image itself
// (killed before the image was replaced: nothing to keep) or the image as it
// was before a patch that went through (the backup that run meant to make).
void BackupReplacement::settleLeftover() {
    const QString staging = stagingPath();
    if (!QFileInfo::exists(staging))
        return;
    if (sameFile(staging, imagePath_) || sameContent(staging, imagePath_))
        QFile::remove(staging);
    else
        renameOver(staging, backupPath_, nullptr);
}

bool BackupReplacement::prepare(QString *whyNot) {
    settleLeftover();
    const QString staging = stagingPath();
    QFile::remove(staging);
    std::error_code error;
    const fs::path image = realFile(imagePath_);
    if (!image.empty())
        fs::create_hard_link(image, QFileInfo(staging).filesystemAbsoluteFilePath(), error);
    prepared_ = (!image.empty() && !error) || copyFile(imagePath_, staging, whyNot);
    return prepared_;
}

bool BackupReplacement::complete(QString *whyNot) {
    if (!prepared_)
        return false;
    completed_ = renameOver(stagingPath(), backupPath_, whyNot);
    keepStaging_ = !completed_;
    return completed_;
}

} // namespace tarnic
