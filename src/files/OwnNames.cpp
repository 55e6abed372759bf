#include "files/OwnNames.h"

#include "files/Backup.h"
#include "files/FileReader.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "files/SystemCalls.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace tarnic {

namespace fs = std::filesystem;

namespace {

bool isPlainFile(const fs::path &path) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

bool sameContent(const fs::path &first, const fs::path &second) {
    FileReader a;
    FileReader b;
    if (!a.open(first) || !b.open(second) || a.size() != b.size())
        return false;
    while (!a.atEnd()) {
        if (a.read(kCopyChunkSize) != b.read(kCopyChunkSize))
            return false;
    }
    return true;
}

// Whether `name` is `prefix` followed by exactly six letters or digits, as
// mkostemp and mkdtemp make them.
bool isUniqueName(const std::string &name, const std::string &prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// A row's intermediate results are named by their number, and a killed one
// may have left the hidden name its new content took (".<number>.tarnic-...").
void removeStepsFolder(const fs::path &folder) {
    std::error_code error;
    const auto isNumber = [](std::string_view name) {
        return !name.empty() && std::all_of(name.begin(), name.end(),
                                            [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().native();
        const size_t mark = name.find(".tarnic-");
        const bool hidden = name.starts_with('.') && mark != std::string::npos &&
                            isNumber(std::string_view(name).substr(1, mark - 1));
        if ((isNumber(name) || hidden) && isPlainFile(entry.path()))
            fs::remove(entry.path(), error);
    }
    fs::remove(folder, error); // only when nothing else is in it
}

} // namespace

std::vector<fs::path> namesOfReplacing(const fs::path &target) {
    return {FileReplacement::resolvedTarget(target), FileReplacement::stagingNameOf(target)};
}

std::vector<fs::path> namesOfBackup(const fs::path &backup) {
    return {backup, backupStagingNameOf(backup)};
}

NameClash findClash(const std::vector<fs::path> &written, const std::vector<fs::path> &inputs) {
    for (const fs::path &name : written) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(name, error);
        if (!fs::exists(status))
            continue;
        for (const fs::path &input : inputs) {
            if (sameFile(name, input))
                return {NameClash::Kind::InputAtWrittenName, name, input};
        }
        // A backup or replaced file may be a link (it is followed, or
        // replaced); the program's own hidden names are plain files or nothing.
        const bool hidden = name.filename().native().ends_with(".tarnic-new");
        if (fs::is_directory(fs::status(name, error)) || (hidden && !fs::is_regular_file(status)) ||
            (!fs::is_symlink(status) && !fs::is_regular_file(status)))
            return {NameClash::Kind::InTheWay, name, {}};
    }
    return {};
}

fs::path stepsFolderPrefixOf(const fs::path &image) {
    const fs::path file = FileReplacement::resolvedTarget(image);
    return file.parent_path() / ("." + file.filename().native() + ".tarnic-steps-");
}

namespace {

// The hidden names a replacement of `target` gives its new content: the one
// it takes for the instant before the rename, and those made where the
// system has no unnamed files; also the row of patches' folders, with
// `withSteps`.
void removeHiddenContentOf(const fs::path &target, bool withSteps) {
    std::error_code error;
    const fs::path file = FileReplacement::resolvedTarget(target);
    const fs::path hidden = FileReplacement::stagingNameOf(target);
    if (isPlainFile(hidden))
        fs::remove(hidden, error);
    const std::string unnamedFallback = "." + file.filename().native() + ".tarnic-";
    const std::string steps = stepsFolderPrefixOf(target).filename().native();
    for (const fs::directory_entry &entry : fs::directory_iterator(file.parent_path(), error)) {
        const std::string name = entry.path().filename().native();
        if (isUniqueName(name, unnamedFallback) && isPlainFile(entry.path()))
            fs::remove(entry.path(), error);
        else if (withSteps && isUniqueName(name, steps) && entry.is_directory(error) &&
                 !entry.is_symlink(error))
            removeStepsFolder(entry.path());
    }
}

} // namespace

StepsFolder::StepsFolder(const fs::path &image) {
#ifdef _WIN32
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate(stepsFolderPrefixOf(image).native() +
                                 std::to_wstring(100000 + std::rand() % 900000));
        if (fs::create_directory(candidate, error))
            path_ = candidate;
    }
    if (path_.empty())
        error_ = error.message();
#else
    std::string pattern = stepsFolderPrefixOf(image).native() + "XXXXXX";
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
    else
        error_ = system::errorText();
#endif
}

StepsFolder::~StepsFolder() {
    if (!path_.empty())
        removeStepsFolder(path_);
}

void settleLeftoversOf(const fs::path &image) {
    std::error_code error;
    removeHiddenContentOf(image, true);
    const fs::path backup = backupNameOf(image);
    const fs::path staging = backupStagingNameOf(backup);
    removeHiddenContentOf(staging, false); // a copy of the image on its way there
    if (!isPlainFile(staging))
        return;
    if (sameFile(staging, image) || sameContent(staging, image))
        fs::remove(staging, error);
    else if (!fs::is_directory(backup, error))
        renameOver(staging, backup, nullptr);
}

} // namespace tarnic
