// The settings reader on any file: what it read, written and read again, is
// the same. (Folders holding a double quote or a line break cannot be written
// so that they read back; the file format has no escapes.)
#include "FuzzInput.h"
#include "qt/PathText.h"
#include "startup/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tarnic;
    const QString path = nameText(fuzzing::fileWith("Tarnic.ini", data, size));
    Settings first;
    readSettingsFile(path, first);
    for (const QString &folder : {first.PatchDir, first.RomDir}) {
        if (folder.contains(u'"') || folder.contains(u'\r') || folder.contains(u'\n'))
            return 0;
    }
    if (!writeSettingsFile(path, first))
        __builtin_trap();
    Settings again;
    if (readSettingsFile(path, again) != 4 || again.PatchDir != first.PatchDir ||
        again.RomDir != first.RomDir || again.SplashOpt != first.SplashOpt ||
        again.BackupOpt != first.BackupOpt)
        __builtin_trap();
    return 0;
}
