#pragma once
// The names a run writes besides the file it replaces (the hidden name the new
// content takes for an instant, the backup and the backup's staging name, the
// intermediate results of a row of patches), checked against the run's inputs
// before anything is written, and settled when a killed run left them behind.

#include <string>

#include <filesystem>
#include <string>
#include <vector>

namespace tarnic {

// Why a run may not write what it would.
struct NameClash {
    enum class Kind {
        None,
        InputAtWrittenName, // `input` is the file at `written`, which the run would
                            // replace, move or delete
        InTheWay,           // a folder, or something else that is not a plain file,
                            // sits at `written`, a name the run needs
    };
    Kind kind = Kind::None;
    std::filesystem::path written;
    std::filesystem::path input;
    explicit operator bool() const { return kind != Kind::None; }
};

// The names written when `target` is replaced: the file itself (a symbolic
// link followed) and its hidden staging name.
std::vector<std::filesystem::path> namesOfReplacing(const std::filesystem::path &target);
// The names written when `image` is backed up to `backup`: the backup and its
// staging name.
std::vector<std::filesystem::path> namesOfBackup(const std::filesystem::path &backup);

// The first of `written` that is one of `inputs` (the same file, through
// links or second names), or that is not a plain file where one is needed;
// None when the run may go ahead.
NameClash findClash(const std::vector<std::filesystem::path> &written,
                    const std::vector<std::filesystem::path> &inputs);

// The prefix of the folders that hold a row of patches' intermediate results
// beside `image`: ".<name>.tarnic-steps-".
std::filesystem::path stepsFolderPrefixOf(const std::filesystem::path &image);

// A new, empty folder for a row of patches' intermediate results beside
// `image`, named after it with a unique ending, and removed with what it
// holds once the row is done; a killed row's is removed by the next run on
// the image (settleLeftoversOf).
class StepsFolder {
  public:
    explicit StepsFolder(const std::filesystem::path &image);
    ~StepsFolder();
    StepsFolder(const StepsFolder &) = delete;
    StepsFolder &operator=(const StepsFolder &) = delete;

    // False when it could not be made; `errorString()` says why.
    bool isValid() const { return !path_.empty(); }
    std::string errorString() const { return error_; }
    // The name of the `index`th result in it.
    std::filesystem::path step(int index) const { return path_ / std::to_string(index); }

  private:
    std::filesystem::path path_;
    std::string error_;
};

// Settles what a killed run on `image` left beside it; called with the image
// locked (files/FileLock.h), before anything else is written:
//  - a hidden new content (".<name>.tarnic-new", ".<name>.tarnic-XXXXXX") is
//    removed: the run that made it did not put it in place;
//  - a row of patches' intermediate results are removed;
//  - an image kept aside for its backup ("<name>.BAK.tarnic-new") is removed
//    when it is still the image, and otherwise becomes the backup it was made
//    to be (the patch went through).
// Only plain files at those exact names are touched; anything else is left.
void settleLeftoversOf(const std::filesystem::path &image);

} // namespace tarnic
