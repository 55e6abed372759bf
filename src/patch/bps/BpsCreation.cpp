#include "files/Crc32.h"
#include "files/FileReplacement.h"
#include "files/SafeWrite.h"
#include "patch/PatchCreation.h"
#include "patch/bps/Bps.h"
#include "patch/delta/DeltaEncoder.h"
#include "patch/records/RecordStream.h"
#include "patch/varint/Varint.h"

#include "io/Endian.h"

#include <filesystem>
#include <thread>

namespace tarnic {

namespace {

// The patch, written out as it is made, with its CRC-32.
class PatchOutput {
  public:
    explicit PatchOutput(Writer &file) : file_(file) {}

    void number(std::uint64_t value) {
        appendVarint(buffer_, value);
        spill();
    }
    void bytes(const char *data, std::int64_t size) {
        buffer_.append(data, size);
        spill();
    }
    bool flush() {
        crc_ = crc32(crc_, buffer_.data(), size_t(buffer_.size()));
        size_ += buffer_.size();
        const bool written = file_.write(buffer_);
        buffer_.clear();
        return written && ok_;
    }
    std::uint32_t crc() const { return crc_; }
    std::int64_t size() const { return size_ + buffer_.size(); }

  private:
    void spill() {
        if (buffer_.size() >= (1 << 16))
            ok_ = flush() && ok_;
    }

    Writer &file_;
    std::string buffer_;
    std::uint32_t crc_ = 0;
    std::int64_t size_ = 0;
    bool ok_ = true;
};

// The encoder's choices as BPS actions: each a number (its command and
// length), a copy's cursor move, a literal's bytes.
class BpsActions final : public DeltaSink {
  public:
    BpsActions(PatchOutput &out, const unsigned char *target) : out_(out), target_(target) {}

    void sourceRead(std::int64_t, std::int64_t length) override { action(0, length); }
    void literal(std::int64_t start, std::int64_t length) override {
        action(1, length);
        out_.bytes(reinterpret_cast<const char *>(target_ + start), length);
    }
    void sourceCopy(std::int64_t from, std::int64_t, std::int64_t length) override {
        action(2, length);
        out_.number(cursorMove(from, sourceCursor_));
        sourceCursor_ = from + length;
    }
    void targetCopy(std::int64_t from, std::int64_t, std::int64_t length) override {
        action(3, length);
        out_.number(cursorMove(from, targetCursor_));
        targetCursor_ = from + length;
    }

  private:
    void action(int command, std::int64_t length) {
        out_.number(std::uint64_t(length - 1) << 2 | std::uint64_t(command));
    }
    static std::uint64_t cursorMove(std::int64_t to, std::int64_t from) {
        const std::int64_t delta = to - from;
        return std::uint64_t(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0);
    }

    PatchOutput &out_;
    const unsigned char *target_;
    std::int64_t sourceCursor_ = 0;
    std::int64_t targetCursor_ = 0;
};

// The patch: its header, the encoder's choices as actions, the CRC-32s.
DeltaWritten writeBps(DeltaFiles &files, const std::string &metadata) {
    const WholeFile &original = files.original;
    const WholeFile &modified = files.modified;
    FileReplacement &patch = files.patch();
    PatchOutput out(patch);
    out.bytes(kBpsMagic, 4);
    out.number(std::uint64_t(original.size()));
    out.number(std::uint64_t(modified.size()));
    out.number(std::uint64_t(metadata.size()));
    out.bytes(metadata.data(), metadata.size());
    BpsActions actions(out, modified.data());
    // The two images' CRC-32s are summed on the other core while the delta is
    // made.
    std::uint32_t originalCrc = 0;
    std::uint32_t modifiedCrc = 0;
    std::thread summing([&] {
        originalCrc = crc32(0, original.data(), size_t(original.size()));
        modifiedCrc = crc32(0, modified.data(), size_t(modified.size()));
    });
    const std::int64_t made =
        encodeDelta(original.data(), original.size(), modified.data(), modified.size(), actions);
    summing.join();
    char crcs[8];
    toLittleEndian(originalCrc, crcs);
    toLittleEndian(modifiedCrc, crcs + 4);
    out.bytes(crcs, 8);
    char own[4];
    const bool headerAndActions = out.flush();
    toLittleEndian(out.crc(), own);
    const std::int64_t size = out.size() + 4;
    return DeltaWritten{headerAndActions && patch.write(own, 4), size, made};
}

} // namespace

CreateResult createBpsPatch(const CreateJob &job) {
    return createDeltaPatch(job,
                            [&](DeltaFiles &files) { return writeBps(files, job.description); });
}

} // namespace tarnic
