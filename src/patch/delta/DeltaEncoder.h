#pragma once
// Delta encoding: the choices that turn one image into another (read the
// source in place, copy from elsewhere in it or from the target made so far,
// take bytes from the patch), made once for every format that writes them
// (BPS actions, VCDIFF instructions). Internal to src/patch.

#include "files/FileReader.h"
#include "files/FileReplacement.h"
#include "patch/PatchCreation.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnic {

// What the encoder chose, in the target's order: each call covers the
// target's next `length` bytes, from `start` on.
class DeltaSink {
  public:
    virtual ~DeltaSink() = default;
    // The source's bytes at the same place.
    virtual void sourceRead(std::int64_t start, std::int64_t length) = 0;
    // The target's own bytes, carried in the patch.
    virtual void literal(std::int64_t start, std::int64_t length) = 0;
    // The source's bytes from `from`.
    virtual void sourceCopy(std::int64_t from, std::int64_t start, std::int64_t length) = 0;
    // The target's bytes from `from` (before `start`; the copy may reach into
    // what it makes itself).
    virtual void targetCopy(std::int64_t from, std::int64_t start, std::int64_t length) = 0;
};

// Encodes the target against the source into `sink`: the greedy choice at
// each position of the longest of reading the source in place, a copy of a
// long stretch found anywhere in the source (a moved block), a short copy
// near where the source would go on or anywhere in the source or the target
// (strings shifted by a byte or two), a run; what none covers is literal.
// Returns how many choices it made.
std::int64_t encodeDelta(const unsigned char *source, std::int64_t sourceSize,
                         const unsigned char *target, std::int64_t targetSize, DeltaSink &sink);

// The whole file, mapped where the system allows, else read.
class WholeFile {
  public:
    bool open(const std::filesystem::path &path);
    const unsigned char *data() const { return data_; }
    std::int64_t size() const { return size_; }

  private:
    FileReader file_;
    std::string copy_;
    const unsigned char *data_ = nullptr;
    std::int64_t size_ = 0;
};

// What a delta creation reads and writes: both images whole, and the patch
// that replaces whatever is at its path only once it is complete.
class DeltaFiles {
  public:
    // Opens them for `job`; otherwise the outcome to refuse with, the
    // system's reason in `result`.
    std::optional<CreateOutcome> open(const CreateJob &job, CreateResult &result);

    // Puts the patch, `size` bytes (all `written`, or not), in its place;
    // Created, with `made` choices, or why not, in `result`.
    CreateOutcome commit(bool written, std::int64_t size, std::int64_t made, CreateResult &result);

    WholeFile original;
    WholeFile modified;
    FileReplacement &patch() { return *patch_; }

  private:
    std::optional<FileReplacement> patch_;
};

// What writing a delta patch came to: whether every byte was written, the
// patch's size, and how many choices the encoder made.
struct DeltaWritten {
    bool complete = false;
    std::int64_t size = 0;
    std::int64_t choices = 0;
};

// Opens the files of `job` and runs `write(files)`, which writes the patch
// into files.patch(); the patch is put in its place only if that is complete.
template <typename Write> CreateResult createDeltaPatch(const CreateJob &job, Write &&write) {
    CreateResult result;
    DeltaFiles files;
    if (const auto refused = files.open(job, result)) {
        result.outcome = *refused;
        return result;
    }
    const DeltaWritten written = write(files);
    result.outcome = files.commit(written.complete, written.size, written.choices, result);
    return result;
}

} // namespace tarnic
