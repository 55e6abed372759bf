// xdelta's DJW: semi-static Huffman codes over bytes, up to 8 code tables
// ("groups") each used for its sectors of the output, the tables' code lengths
// sent through a small Huffman code of their own with move-to-front and
// run-length (RUN_0, RUN_1) coding. Nothing is kept from one section to the
// next.
#include "patch/xdelta/Secondary.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tarnic {

namespace {

// Bits are taken from each byte lowest first; a field of n bits is read top
// bit first.
class BitInput {
  public:
    BitInput(const std::uint8_t *in, std::size_t size) : in_(in), end_(in + size) {}

    bool bit(unsigned &into) {
        if (mask_ == 0x100) {
            if (in_ == end_)
                return false;
            byte_ = *in_++;
            mask_ = 1;
        }
        into = (byte_ & mask_) ? 1 : 0;
        mask_ <<= 1;
        return true;
    }
    bool bits(int count, unsigned &into) {
        into = 0;
        for (int i = 0; i < count; ++i) {
            unsigned b;
            if (!bit(b))
                return false;
            into = (into << 1) | b;
        }
        return true;
    }
    bool allUsed() const { return in_ == end_; }

  private:
    const std::uint8_t *in_;
    const std::uint8_t *end_;
    unsigned byte_ = 0;
    unsigned mask_ = 0x100;
};

constexpr int kLongestCode = 20;
constexpr int kLengthSymbols = kLongestCode + 2; // RUN_0, RUN_1, then MTF positions
constexpr unsigned kMostGroups = 8;

// A canonical Huffman code given each symbol's code length (0: unused):
// shorter codes first, equal lengths in symbol order.
class CanonicalCode {
  public:
    bool build(const std::uint8_t *lengths, int symbols) {
        count_.fill(0);
        for (int s = 0; s < symbols; ++s)
            ++count_[lengths[s]];
        count_[0] = 0;
        ordered_.clear();
        for (int length = 1; length <= kLongestCode; ++length) {
            for (int s = 0; s < symbols; ++s) {
                if (lengths[s] == length)
                    ordered_.push_back(std::uint8_t(s));
            }
        }
        return !ordered_.empty();
    }

    bool decode(BitInput &input, unsigned &symbol) const {
        unsigned code = 0;
        unsigned first = 0; // the first code of the current length
        unsigned index = 0; // the symbols of shorter codes
        for (int length = 1; length <= kLongestCode; ++length) {
            unsigned b;
            if (!input.bit(b))
                return false;
            code = (code << 1) | b;
            if (code - first < count_[length]) {
                symbol = ordered_[index + (code - first)];
                return true;
            }
            index += count_[length];
            first = (first + count_[length]) << 1;
        }
        return false;
    }

  private:
    std::array<unsigned, kLongestCode + 1> count_{};
    std::vector<std::uint8_t> ordered_;
};

// Decodes `count` values coded as move-to-front positions with runs of the
// front value (RUN_0 and RUN_1 as the digits of the run's length, bijective
// base 2). With a `skip` distance, a value whose counterpart `skip` values
// back is 0 is 0 too, and takes no bits.
bool decodeMtf12(BitInput &input, const CanonicalCode &code, std::uint8_t *list, int listSize,
                 std::uint8_t *values, std::size_t count, std::size_t skip = 0) {
    std::size_t n = 0;
    std::uint64_t repeats = 0;
    int shift = 0;
    while (n < count) {
        if (skip != 0 && n >= skip && values[n - skip] == 0) {
            values[n++] = 0;
            continue;
        }
        if (repeats > 0) {
            values[n++] = list[0];
            --repeats;
            continue;
        }
        unsigned symbol;
        if (!code.decode(input, symbol))
            return false;
        if (symbol <= 1) {
            if (shift > 40)
                return false;
            repeats = std::uint64_t(symbol + 1) << shift++;
            continue;
        }
        shift = 0;
        const int position = int(symbol) - 1;
        if (position >= listSize)
            return false;
        const std::uint8_t value = list[position];
        std::copy_backward(list, list + position, list + position + 1);
        list[0] = value;
        values[n++] = value;
    }
    return repeats == 0;
}

class DjwDecoder final : public SecondaryDecoder {
  public:
    bool decode(const std::uint8_t *in, std::size_t inSize, std::uint8_t *out,
                std::size_t outSize) override {
        BitInput input(in, inSize);
        if (outSize == 0)
            return false;
        unsigned field;
        if (!input.bits(3, field))
            return false;
        const unsigned groups = field + 1;
        std::size_t sector = outSize;
        if (groups > 1) {
            if (!input.bits(5, field))
                return false;
            sector = (field + 1) * 5;
        }
        const std::size_t sectors = (outSize + sector - 1) / sector;

        // The code of the code lengths.
        std::array<std::uint8_t, kLengthSymbols> lengthLengths{};
        if (!input.bits(4, field))
            return false;
        const unsigned sent = field + 7;
        for (unsigned s = 0; s < sent; ++s) {
            if (!input.bits(4, field))
                return false;
            lengthLengths[s] = std::uint8_t(field);
        }
        CanonicalCode lengthCode;
        if (!lengthCode.build(lengthLengths.data(), kLengthSymbols))
            return false;

        // Each group's code lengths, the second group's on from the first's.
        std::uint8_t lengthList[kLengthSymbols - 1] = {0,  4,  5, 6,  7,  8,  9,  10, 3,  11, 2,
                                                       12, 13, 1, 14, 15, 16, 17, 18, 19, 20};
        std::vector<std::uint8_t> lengths(groups * 256);
        if (!decodeMtf12(input, lengthCode, lengthList, kLengthSymbols - 1, lengths.data(),
                         lengths.size(), 256))
            return false;
        std::array<CanonicalCode, kMostGroups> codes;
        for (unsigned g = 0; g < groups; ++g) {
            if (!codes[g].build(lengths.data() + g * 256, 256))
                return false;
        }

        // Which group codes each sector.
        std::vector<std::uint8_t> selectors(sectors, 0);
        if (groups > 1) {
            std::array<std::uint8_t, kMostGroups + 1> selectorLengths{};
            std::array<std::uint8_t, kMostGroups + 1> selectorList{};
            for (unsigned g = 0; g <= groups; ++g) {
                if (!input.bits(3, field))
                    return false;
                selectorLengths[g] = std::uint8_t(field);
                selectorList[g] = std::uint8_t(g);
            }
            CanonicalCode selectorCode;
            if (!selectorCode.build(selectorLengths.data(), int(groups + 1)) ||
                !decodeMtf12(input, selectorCode, selectorList.data(), int(groups + 1),
                             selectors.data(), sectors))
                return false;
        }

        for (std::size_t c = 0, at = 0; c < sectors; ++c) {
            if (selectors[c] >= groups)
                return false;
            const CanonicalCode &code = codes[selectors[c]];
            for (const std::size_t end = std::min(outSize, at + sector); at < end; ++at) {
                unsigned symbol;
                if (!code.decode(input, symbol))
                    return false;
                out[at] = std::uint8_t(symbol);
            }
        }
        return input.allUsed();
    }
};

} // namespace

std::unique_ptr<SecondaryDecoder> makeDjwDecoder() {
    return std::make_unique<DjwDecoder>();
}

} // namespace tarnic
