#include "patch/xdelta/VcdiffDecoder.h"

#include "patch/xdelta/VcdiffNumbers.h"

#include <cstring>

namespace tarnic {

namespace {

enum class Kind : std::uint8_t { Noop, Add, Run, Copy };

struct Half {
    Kind kind = Kind::Noop;
    std::uint8_t size = 0; // 0: the size follows in the instructions
    std::uint8_t mode = 0; // a copy's address mode
};
struct CodeEntry {
    Half first, second;
};

// VCDIFF's default code table, in its defined order.
std::array<CodeEntry, 256> buildDefaultCodeTable() {
    std::array<CodeEntry, 256> table{};
    int i = 0;
    table[i++].first = {Kind::Run, 0, 0};
    for (int size = 0; size <= 17; ++size)
        table[i++].first = {Kind::Add, std::uint8_t(size), 0};
    for (int mode = 0; mode <= 8; ++mode) {
        table[i++].first = {Kind::Copy, 0, std::uint8_t(mode)};
        for (int size = 4; size <= 18; ++size)
            table[i++].first = {Kind::Copy, std::uint8_t(size), std::uint8_t(mode)};
    }
    for (int mode = 0; mode <= 5; ++mode) {
        for (int add = 1; add <= 4; ++add) {
            for (int copy = 4; copy <= 6; ++copy)
                table[i++] = {{Kind::Add, std::uint8_t(add), 0},
                              {Kind::Copy, std::uint8_t(copy), std::uint8_t(mode)}};
        }
    }
    for (int mode = 6; mode <= 8; ++mode) {
        for (int add = 1; add <= 4; ++add)
            table[i++] = {{Kind::Add, std::uint8_t(add), 0}, {Kind::Copy, 4, std::uint8_t(mode)}};
    }
    for (int mode = 0; mode <= 8; ++mode)
        table[i++] = {{Kind::Copy, 4, std::uint8_t(mode)}, {Kind::Add, 1, 0}};
    return table;
}

const std::array<CodeEntry, 256> &defaultCodeTable() {
    static const std::array<CodeEntry, 256> table = buildDefaultCodeTable();
    return table;
}

// Bytes of a section, read from the front.
class SectionInput {
  public:
    explicit SectionInput(const std::vector<std::uint8_t> &bytes)
        : at_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    bool empty() const { return at_ == end_; }
    std::size_t left() const { return std::size_t(end_ - at_); }
    std::optional<std::uint8_t> byte() {
        if (at_ == end_)
            return std::nullopt;
        return *at_++;
    }
    std::optional<std::uint64_t> number() {
        bool tooLong = false;
        return readVcdiffNumber([this] { return byte(); }, tooLong);
    }
    const std::uint8_t *take(std::size_t count) {
        if (left() < count)
            return nullptr;
        const std::uint8_t *bytes = at_;
        at_ += count;
        return bytes;
    }

  private:
    const std::uint8_t *at_;
    const std::uint8_t *end_;
};

// The largest a decompressed section may be: the data section gives at most
// the window's bytes, and no instruction or address takes less than a byte
// for each of those it makes, plus a little.
std::uint64_t largestSection(int section, std::uint64_t windowLength) {
    return section == 0 ? windowLength : 2 * windowLength + 4096;
}

} // namespace

VcdiffDecoder::Step VcdiffDecoder::readSections(Reader &patch, const VcdiffWindow &window) {
    if (!patch.seek(window.sectionsAt))
        return Step::ReadFailed;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t length = std::int64_t(window.sectionLength[i]);
        std::vector<std::uint8_t> &section = sections_[size_t(i)];
        const bool compressed = (window.compressed >> i) & 1;
        std::vector<std::uint8_t> &into = compressed ? stored_ : section;
        into.resize(size_t(length));
        if (patch.read(reinterpret_cast<char *>(into.data()), length) != length)
            return Step::ReadFailed;
        if (!compressed)
            continue;
        // The size it decompresses to, then the compressed bytes.
        SectionInput input(stored_);
        const std::optional<std::uint64_t> size = input.number();
        if (!size || *size == 0 || *size > largestSection(i, window.length))
            return broken(PatchFault::SecondaryBroken);
        std::unique_ptr<SecondaryDecoder> &decoder = decoders_[size_t(i)];
        if (!decoder)
            decoder = makeSecondaryDecoder(secondary_);
        if (!decoder)
            return broken(PatchFault::SecondaryNotDecoded);
        section.resize(size_t(*size));
        const std::size_t left = input.left();
        if (!decoder->decode(input.take(left), left, section.data(), section.size()))
            return broken(PatchFault::SecondaryBroken);
    }
    return Step::Decoded;
}

VcdiffDecoder::Step VcdiffDecoder::decode(Reader &patch, const VcdiffWindow &window,
                                          SourceBlocks &source, std::int64_t imageSize,
                                          std::vector<char> &out) {
    if (window.readsSource() &&
        window.segmentPosition + window.segmentLength > std::uint64_t(imageSize))
        return Step::PastImage;
    if (const Step read = readSections(patch, window); read != Step::Decoded)
        return read;
    return run(window, source, out);
}

VcdiffDecoder::Step VcdiffDecoder::run(const VcdiffWindow &window, SourceBlocks &source,
                                       std::vector<char> &out) {
    SectionInput data(sections_[0]);
    SectionInput instructions(sections_[1]);
    SectionInput addresses(sections_[2]);
    const std::uint64_t segment = window.readsSource() ? window.segmentLength : 0;
    const std::uint64_t length = window.length;
    out.resize(size_t(length));
    char *const result = out.data();
    // The address caches: the last four addresses, and each address by its
    // value modulo 768.
    std::array<std::uint64_t, 4> near{};
    std::size_t nextNear = 0;
    std::array<std::uint64_t, 768> same{};

    std::uint64_t here = 0; // bytes of the result made so far
    while (!instructions.empty()) {
        const CodeEntry &entry = defaultCodeTable()[*instructions.byte()];
        for (const Half &half : {entry.first, entry.second}) {
            if (half.kind == Kind::Noop)
                continue;
            std::uint64_t size = half.size;
            if (size == 0) {
                const std::optional<std::uint64_t> given = instructions.number();
                if (!given)
                    return broken(PatchFault::InstructionBroken);
                size = *given;
            }
            if (size > length - here)
                return broken(PatchFault::InstructionBroken);
            char *const into = result + here;
            switch (half.kind) {
            case Kind::Noop:
                break;
            case Kind::Add: {
                const std::uint8_t *bytes = data.take(size_t(size));
                if (!bytes)
                    return broken(PatchFault::InstructionBroken);
                if (size > 0)
                    std::memcpy(into, bytes, size_t(size));
                break;
            }
            case Kind::Run: {
                const std::optional<std::uint8_t> value = data.byte();
                if (!value)
                    return broken(PatchFault::InstructionBroken);
                if (size > 0)
                    std::memset(into, *value, size_t(size));
                break;
            }
            case Kind::Copy: {
                const std::uint64_t position = segment + here;
                std::uint64_t address = 0;
                if (half.mode >= 6) {
                    const std::optional<std::uint8_t> b = addresses.byte();
                    if (!b)
                        return broken(PatchFault::InstructionBroken);
                    address = same[(half.mode - 6) * 256 + *b];
                } else {
                    const std::optional<std::uint64_t> value = addresses.number();
                    if (!value)
                        return broken(PatchFault::InstructionBroken);
                    if (half.mode == 0)
                        address = *value;
                    else if (half.mode == 1)
                        address = *value <= position ? position - *value : position;
                    else
                        address = near[half.mode - 2] + *value;
                }
                if (address >= position)
                    return broken(PatchFault::InstructionBroken);
                near[nextNear] = address;
                nextNear = (nextNear + 1) % near.size();
                same[address % same.size()] = address;
                if (address < segment) {
                    // From the source segment, which it may not run past.
                    if (size > segment - address)
                        return broken(PatchFault::InstructionBroken);
                    if (!source.read(std::int64_t(window.segmentPosition + address), into,
                                     std::int64_t(size)))
                        return Step::SourceFailed;
                    break;
                }
                // From the result so far, byte by byte where it overlaps
                // what it writes.
                const std::uint64_t from = address - segment;
                if (size == 0)
                    break;
                if (from + size <= here) {
                    std::memcpy(into, result + from, size_t(size));
                } else {
                    for (std::uint64_t k = 0; k < size; ++k)
                        into[k] = result[from + k];
                }
                break;
            }
            }
            here += size;
        }
    }
    if (here != length || !data.empty() || !addresses.empty())
        return broken(PatchFault::InstructionBroken);
    return Step::Decoded;
}

} // namespace tarnic
