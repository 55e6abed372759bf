#pragma once
// The four program-wide settings and their file, "Tarnic.ini": four lines ended
// by CR LF, the two folders in double quotes (nothing escaped), the two options
// as bare decimal digits. With the Windows defaults the file is 20 bytes:
//   "C:\"  "C:\"  0  0

#include <QString>

namespace tarnic {

inline constexpr char kSettingsFileName[] = "Tarnic.ini";

// Options use 0 for "on" and 1 for "off"; every test for "on" is a test for
// exactly 0, so a hand-edited 2 is neither.
inline constexpr qint16 kOptionOn = 0;
inline constexpr qint16 kOptionOff = 1;
// What an option field that is not a whole number reads as: neither on nor off.
inline constexpr qint16 kOptionUnreadable = 2;

// The default and replacement folder: "C:\" on Windows; elsewhere the user's
// home folder, or "/" when that does not exist.
QString defaultFolder();

struct Settings {
    QString PatchDir = defaultFolder();
    QString RomDir = defaultFolder();
    qint16 SplashOpt = kOptionOn;
    qint16 BackupOpt = kOptionOn;
};

// Fills `settings` from the file in order (PatchDir, RomDir, SplashOpt,
// BackupOpt) as far as the file goes and returns how many were read. Every
// failure is silent: what was read stays, the rest keeps its value. A field ends
// at a comma or at the end of a line; a field that begins with a double quote
// runs to the next double quote and may hold commas.
int readSettingsFile(const QString &path, Settings &settings);

// The file's exact content for `settings`. Folders are in the system's 8-bit
// encoding: UTF-8 on Linux, the ANSI code page on Windows, as the file has
// always been there.
QByteArray settingsFileContent(const Settings &settings);

// Replaces the file's whole content. Returns false when it cannot be written,
// a read-only file included; the old content then stays as it was.
bool writeSettingsFile(const QString &path, const Settings &settings);

// Makes a relative PatchDir or RomDir (typed into the file by hand) absolute,
// relative to `programFolder`.
void makeFoldersAbsolute(Settings &settings, const QString &programFolder);

// Replaces PatchDir, then RomDir, by the default folder when nothing (neither a
// folder nor a file) exists at its path. Returns true when one was replaced.
bool checkFolders(Settings &settings);

// Where the settings file lives: "Tarnic.ini" in `programFolder`, unless the
// program is installed there (its desktop entry, `applicationId`.desktop, is
// installed under the same prefix), or that folder cannot be written and holds
// no such file; then in the user's configuration folder for the program.
QString settingsFilePath(const QString &programFolder, const QString &applicationId);

} // namespace tarnic
