#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/PatchCreation.h"
#include "patch/ips/IpsFormat.h"

#include "files/FileReader.h"

#include <algorithm>
#include <filesystem>

namespace tarnic {

namespace {

constexpr std::int64_t kIpsLimit = std::int64_t(1) << 24; // offsets and the length are 24-bit
constexpr std::int64_t kEofOffset = 0x454F46;             // an offset that reads "EOF"
constexpr std::int64_t kMaxRecord = 0xFFFF;
constexpr std::int64_t kJoinGap = 5;    // unchanged bytes cheaper than a new record
constexpr std::int64_t kRunWorthIt = 9; // a run this long is cheaper as RLE

void bigEndian(std::string &to, std::int64_t value, int size) {
    for (int i = size - 1; i >= 0; --i)
        to += char(value >> (8 * i));
}

class IpsWriter {
  public:
    explicit IpsWriter(const std::string &modified) : modified_(modified) {}

    // Writes the bytes [from, to) of the modified image as records.
    void stretch(std::int64_t from, std::int64_t to) {
        while (from < to) {
            if (from == kEofOffset) {
                // A record here would read as the end mark: start one byte early.
                copy(from - 1, 2);
                from += 1;
                continue;
            }
            const std::int64_t run = runAt(from, std::min(to, from + kMaxRecord));
            const std::int64_t whole = std::min(to - from, kMaxRecord);
            if (run >= kRunWorthIt || (run == whole && run >= 4)) {
                rle(from, run);
                from += run;
                continue;
            }
            // Literal bytes up to the next run worth its own record.
            std::int64_t end = from + 1;
            while (end < from + whole && runAt(end, from + whole) < kRunWorthIt &&
                   end != kEofOffset)
                ++end;
            copy(from, end - from);
            from = end;
        }
    }

    void finish(std::int64_t originalSize) {
        patch_ += "EOF";
        if (std::int64_t(modified_.size()) < originalSize)
            bigEndian(patch_, modified_.size(), 3);
    }

    const std::string &bytes() const { return patch_; }
    std::int64_t records = 0;
    std::int64_t bytesWritten = 0;

  private:
    std::int64_t runAt(std::int64_t at, std::int64_t limit) const {
        std::int64_t end = at + 1;
        while (end < limit && modified_[end] == modified_[at])
            ++end;
        return end - at;
    }
    void copy(std::int64_t at, std::int64_t size) {
        bigEndian(patch_, at, 3);
        bigEndian(patch_, size, 2);
        patch_ += modified_.substr(size_t(at), size_t(size));
        ++records;
        bytesWritten += size;
    }
    void rle(std::int64_t at, std::int64_t count) {
        bigEndian(patch_, at, 3);
        bigEndian(patch_, 0, 2);
        bigEndian(patch_, count, 2);
        patch_ += modified_[at];
        ++records;
        bytesWritten += count;
    }

    const std::string &modified_;
    std::string patch_ = kIpsMagic;
};

std::string readAll(const std::filesystem::path &path, std::int64_t limit, bool &ok) {
    FileReader file;
    ok = file.open(path);
    return ok ? file.read(limit) : std::string();
}

} // namespace

CreateResult createIpsPatch(const CreateJob &job) {
    CreateResult result;
    const auto finish = [&](CreateOutcome outcome) {
        result.outcome = outcome;
        return result;
    };
    if (!job.description.empty())
        return finish(CreateOutcome::DescriptionTooLong); // IPS has no place for one
    if (const auto refused = refusedPatchPath(job, result))
        return finish(*refused);
    std::error_code noSize;
    if (const auto size = std::filesystem::file_size(job.modifiedPath, noSize);
        !noSize && size > std::uintmax_t(kIpsLimit))
        return finish(CreateOutcome::TooLargeForFormat);
    bool ok = false;
    const std::string modified = readAll(job.modifiedPath, kIpsLimit + 1, ok);
    if (!ok)
        return finish(CreateOutcome::ModifiedUnreadable);
    FileReader originalFile;
    if (!originalFile.open(job.originalPath))
        return finish(CreateOutcome::OriginalUnreadable);
    const std::int64_t originalSize = originalFile.size();
    // A shorter result needs its length, which must fit in 24 bits too.
    const std::int64_t modifiedSize = std::int64_t(modified.size());
    if (modifiedSize > kIpsLimit || (modifiedSize < originalSize && modifiedSize >= kIpsLimit))
        return finish(CreateOutcome::TooLargeForFormat);
    const std::string original = originalFile.read(modified.size());

    // Past the original's end the modified image is compared with zeros, and
    // its last byte is always written so that the result has its length.
    IpsWriter writer(modified);
    const auto before = [&](std::int64_t at) {
        return at < std::int64_t(original.size()) ? original[size_t(at)] : char(0);
    };
    const std::int64_t compared = modifiedSize > originalSize ? modifiedSize - 1 : modifiedSize;
    for (std::int64_t at = 0; at < compared;) {
        if (modified[at] == before(at)) {
            ++at;
            continue;
        }
        std::int64_t end = at + 1;
        for (std::int64_t same = 0; end < compared && same <= kJoinGap; ++end)
            same = modified[end] == before(end) ? same + 1 : 0;
        while (end > at && modified[end - 1] == before(end - 1))
            --end; // the stretch ends with its last change
        writer.stretch(at, end);
        at = end;
    }
    if (compared < modifiedSize)
        writer.stretch(compared, modifiedSize);
    writer.finish(originalSize);

    FileReplacement patch(job.patchPath);
    if (!patch.open() || !patch.write(writer.bytes()) || !patch.finish(writer.bytes().size()) ||
        !patch.commit()) {
        result.systemError = patch.errorString();
        return finish(CreateOutcome::WriteFailed);
    }
    result.folderFlushError = patch.folderFlushError();
    result.records = writer.records;
    result.bytesWritten = writer.bytesWritten;
    result.patchSize = writer.bytes().size();
    return finish(CreateOutcome::Created);
}

} // namespace tarnic
