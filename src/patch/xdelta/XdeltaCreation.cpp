// Making an xdelta patch: the delta encoder's choices written as VCDIFF
// windows of the target, with the default code table, the address caches and
// an Adler-32 per window, and no secondary compression, so that every VCDIFF
// decoder reads it.
#include "files/Crc32.h"
#include "files/FileReplacement.h"
#include "patch/PatchCreation.h"
#include "patch/delta/DeltaEncoder.h"
#include "patch/records/RecordStream.h"
#include "patch/xdelta/Vcdiff.h"
#include "patch/xdelta/VcdiffNumbers.h"
#include "strings/Strings.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tarnic {

namespace {

// The target's windows: xdelta's own default size, which its decoder and
// others hold in memory whole.
constexpr std::int64_t kWindowSize = 8 << 20;

// The encoder's choices, cut into windows and written as VCDIFF.
class VcdiffWindows final : public DeltaSink {
  public:
    VcdiffWindows(const unsigned char *target, std::int64_t targetSize, Writer &out)
        : target_(target), targetSize_(targetSize), out_(out) {}

    void sourceRead(std::int64_t start, std::int64_t length) override {
        sourceCopy(start, start, length);
    }
    void literal(std::int64_t start, std::int64_t length) override {
        split(start, length, [&](std::int64_t at, std::int64_t n) {
            ops_.push_back({Op::Add, at, at, n});
        });
    }
    void sourceCopy(std::int64_t from, std::int64_t start, std::int64_t length) override {
        if (!fromSource_.empty() && fromSource_.back().start + fromSource_.back().length == start &&
            fromSource_.back().from + fromSource_.back().length == from)
            fromSource_.back().length += length;
        else
            fromSource_.push_back({Op::FromSource, from, start, length});
        split(start, length, [&](std::int64_t at, std::int64_t n) {
            ops_.push_back({Op::FromSource, from + (at - start), at, n});
        });
    }
    void targetCopy(std::int64_t from, std::int64_t start, std::int64_t length) override {
        split(start, length, [&](std::int64_t at, std::int64_t n) {
            const std::int64_t origin = from + (at - start);
            if (origin >= windowStart_) {
                ops_.push_back({Op::FromTarget, origin, at, n});
                return;
            }
            // Only the window's own output can be copied from; bytes of an
            // earlier window are copied from the source where they came
            // from it, and carried in the patch where not.
            copyEarlier(origin, at, n);
        });
    }

    // The bytes of the windows written so far.
    std::int64_t written() const { return written_; }

    // Writes what is left; false when a write failed.
    bool finish() {
        if (windows_ == 0 || windowStart_ < targetSize_)
            writeWindow();
        return ok_;
    }

  private:
    struct Op {
        enum Kind { Add, Run, FromSource, FromTarget } kind;
        std::int64_t from; // in the source, or in the target
        std::int64_t start;
        std::int64_t length;
    };

    // The target's [start, start + length), before the current window, as
    // copies from the source where earlier copies took it from there.
    void copyEarlier(std::int64_t origin, std::int64_t start, std::int64_t length) {
        auto piece = std::upper_bound(fromSource_.begin(), fromSource_.end(), origin,
                                      [](std::int64_t at, const Op &op) { return at < op.start; });
        while (length > 0) {
            std::int64_t n = length;
            Op op{Op::Add, start, start, 0};
            if (piece != fromSource_.begin() && std::prev(piece)->start <= origin &&
                origin < std::prev(piece)->start + std::prev(piece)->length) {
                const Op &source = *std::prev(piece);
                n = std::min(n, source.start + source.length - origin);
                op = {Op::FromSource, source.from + (origin - source.start), start, 0};
            } else if (piece != fromSource_.end()) {
                n = std::min(n, piece->start - origin);
            }
            op.length = n;
            // A run of one byte (a copy of an earlier run, say) is a RUN.
            if (op.kind == Op::Add && n > 2 &&
                std::all_of(target_ + start, target_ + start + n,
                            [&](unsigned char b) { return b == target_[start]; }))
                op.kind = Op::Run;
            ops_.push_back(op);
            origin += n;
            start += n;
            length -= n;
            if (piece != fromSource_.end() && origin >= piece->start)
                ++piece;
        }
    }

    // Hands `apply` the parts of [start, start + length) in each window,
    // writing each window once it is complete.
    template <typename Apply> void split(std::int64_t start, std::int64_t length, Apply &&apply) {
        while (length > 0) {
            const std::int64_t n = std::min(length, windowStart_ + kWindowSize - start);
            apply(start, n);
            start += n;
            length -= n;
            if (start == windowStart_ + kWindowSize)
                writeWindow();
        }
    }

    void writeWindow() {
        const std::int64_t length = std::min(kWindowSize, targetSize_ - windowStart_);
        // The source segment: from the first byte copied to past the last.
        std::int64_t low = INT64_MAX, high = 0;
        for (const Op &op : ops_) {
            if (op.kind == Op::FromSource) {
                low = std::min(low, op.from);
                high = std::max(high, op.from + op.length);
            }
        }
        const bool source = low < high;
        const std::int64_t segment = source ? high - low : 0;
        std::string data, instructions, addresses;
        near_.fill(0);
        same_.fill(0);
        nextNear_ = 0;
        int pendingAdd = 0; // an ADD of 1 to 4 bytes that may join the next COPY
        const auto flushAdd = [&] {
            if (pendingAdd > 0)
                instructions += char(1 + pendingAdd);
            pendingAdd = 0;
        };
        for (const Op &op : ops_) {
            if (op.kind == Op::Run) {
                flushAdd();
                data += char(target_[op.start]);
                instructions += '\0';
                appendVcdiffNumber(instructions, std::uint64_t(op.length));
                continue;
            }
            if (op.kind == Op::Add) {
                flushAdd();
                data.append(reinterpret_cast<const char *>(target_ + op.start), size_t(op.length));
                if (op.length <= 4) {
                    pendingAdd = int(op.length);
                } else if (op.length <= 17) {
                    instructions += char(1 + op.length);
                } else {
                    instructions += char(1);
                    appendVcdiffNumber(instructions, std::uint64_t(op.length));
                }
                continue;
            }
            const std::int64_t here = segment + (op.start - windowStart_);
            const std::int64_t address =
                op.kind == Op::FromSource ? op.from - low : segment + (op.from - windowStart_);
            const int mode = addressMode(std::uint64_t(address), std::uint64_t(here), addresses);
            const std::int64_t size = op.length;
            if (pendingAdd > 0 && mode <= 5 && size >= 4 && size <= 6) {
                instructions += char(163 + 12 * mode + 3 * (pendingAdd - 1) + (size - 4));
                pendingAdd = 0;
                continue;
            }
            if (pendingAdd > 0 && mode >= 6 && size == 4) {
                instructions += char(235 + 4 * (mode - 6) + (pendingAdd - 1));
                pendingAdd = 0;
                continue;
            }
            flushAdd();
            if (size >= 4 && size <= 18) {
                instructions += char(19 + 16 * mode + (size - 3));
            } else {
                instructions += char(19 + 16 * mode);
                appendVcdiffNumber(instructions, std::uint64_t(size));
            }
        }
        flushAdd();

        std::string window(1, char(source ? 0x05 : 0x04));
        if (source) {
            appendVcdiffNumber(window, std::uint64_t(segment));
            appendVcdiffNumber(window, std::uint64_t(low));
        }
        std::string rest;
        appendVcdiffNumber(rest, std::uint64_t(length));
        rest += '\0';
        appendVcdiffNumber(rest, data.size());
        appendVcdiffNumber(rest, instructions.size());
        appendVcdiffNumber(rest, addresses.size());
        const std::uint32_t sum = adler32(1, target_ + windowStart_, size_t(length));
        for (int shift = 24; shift >= 0; shift -= 8)
            rest += char(sum >> shift);
        appendVcdiffNumber(window,
                           rest.size() + data.size() + instructions.size() + addresses.size());
        for (const std::string *part : {&window, &rest, &data, &instructions, &addresses}) {
            ok_ = out_.write(*part) && ok_;
            written_ += std::int64_t(part->size());
        }
        ops_.clear();
        windowStart_ += length;
        ++windows_;
    }

    // Writes `address` in the cheapest of VCDIFF's modes, as seen from
    // `here`, and notes it in the caches as the decoder will; the mode.
    int addressMode(std::uint64_t address, std::uint64_t here, std::string &addresses) {
        int mode = 0;
        std::uint64_t value = address;
        int bytes = vcdiffNumberSize(address);
        const auto consider = [&](int m, std::uint64_t v) {
            if (vcdiffNumberSize(v) < bytes) {
                mode = m;
                value = v;
                bytes = vcdiffNumberSize(v);
            }
        };
        consider(1, here - address);
        for (int i = 0; i < 4; ++i) {
            if (address >= near_[size_t(i)])
                consider(2 + i, address - near_[size_t(i)]);
        }
        const size_t slot = address % same_.size();
        if (same_[slot] == address && bytes > 1) {
            mode = 6 + int(slot / 256);
            addresses += char(slot % 256);
        } else {
            appendVcdiffNumber(addresses, value);
        }
        near_[nextNear_] = address;
        nextNear_ = (nextNear_ + 1) % near_.size();
        same_[slot] = address;
        return mode;
    }

    const unsigned char *target_;
    std::int64_t targetSize_;
    Writer &out_;
    std::vector<Op> ops_;
    // Every stretch of the target copied from the source so far, in order.
    std::vector<Op> fromSource_;
    std::int64_t windowStart_ = 0;
    int windows_ = 0;
    std::int64_t written_ = 0;
    bool ok_ = true;
    std::array<std::uint64_t, 4> near_{};
    size_t nextNear_ = 0;
    std::array<std::uint64_t, 768> same_{};
};

std::string baseName(const std::filesystem::path &path) {
    return path.filename().string();
}

} // namespace

CreateResult createXdeltaPatch(const CreateJob &job) {
    return createDeltaPatch(job, [&](DeltaFiles &files) {
        const WholeFile &original = files.original;
        const WholeFile &modified = files.modified;
        FileReplacement &patch = files.patch();
        // The application header: the description, as patching programs store
        // one, or else the two files' names, as xdelta does.
        const std::string appHeader = job.description.empty() ? baseName(job.modifiedPath) + "//" +
                                                                    baseName(job.originalPath) + "/"
                                                              : "^*" + base64(job.description);
        std::string header(kVcdiffMagic, 3);
        header += '\0';
        header += '\x04';
        appendVcdiffNumber(header, appHeader.size());
        header += appHeader;
        bool written = patch.write(header);
        VcdiffWindows windows(modified.data(), modified.size(), patch);
        const std::int64_t made = encodeDelta(original.data(), original.size(), modified.data(),
                                              modified.size(), windows);
        written = windows.finish() && written;
        const std::int64_t size = std::int64_t(header.size()) + windows.written();
        return DeltaWritten{written, size, made};
    });
}

} // namespace tarnic
