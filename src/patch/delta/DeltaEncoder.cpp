#include "patch/delta/DeltaEncoder.h"

#include "patch/records/RecordStream.h"

#include "files/FileReader.h"
#include "io/Reader.h"
#include "rom/ByteOrderConversion.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace tarnic {

namespace {

// The fewest bits, from `least` to `most`, that count to `count`: the size
// of a table.
int bitsFor(std::int64_t count, int least, int most) {
    int bits = least;
    while (bits < most && (std::int64_t(1) << bits) < count)
        ++bits;
    return bits;
}

// The source is indexed every kStride bytes by the hash of the kWindow bytes
// there; a target stretch that the source holds elsewhere (a moved block) is
// found from any of its positions once it is at least kWindow + kStride long.
constexpr std::int64_t kWindow = 32;
constexpr std::int64_t kStride = 32;
// The table has a slot a window indexed, from 2^12 to 2^21.
int longTableBits(std::int64_t sourceSize) {
    return bitsFor(sourceSize / kStride, 12, 21);
}
// A run this long in the target is one literal byte and a copy of it.
constexpr std::int64_t kRunWorthIt = 8;

// The hash of the kWindow bytes at `bytes`: its top bits pick a slot of the
// table, some of its middle bits are kept in the slot (see EntryCode).
std::uint64_t windowHash(const unsigned char *bytes) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, bytes, 8);
    std::memcpy(&b, bytes + kWindow - 8, 8);
    return (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
}

size_t slotOf(std::uint64_t hash, int bits) {
    return size_t(hash >> (64 - bits));
}

// A table of positions: 2^bits zeroed slots. It is far larger than the
// processor's caches and read at random, so on Linux it asks for huge pages,
// which spares most of the address translations such reads cost.
template <typename Entry> class PositionTable {
  public:
    explicit PositionTable(int bits) : kSlots(size_t(1) << bits), kBytes(kSlots * sizeof(Entry)) {
#if defined(__unix__)
        void *mapped = ::mmap(nullptr, kBytes + kHugePage, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            mapped_ = mapped;
            // Huge pages start on their own boundary.
            const auto at = (reinterpret_cast<std::uintptr_t>(mapped) + kHugePage - 1) &
                            ~std::uintptr_t(kHugePage - 1);
            slots_ = reinterpret_cast<Entry *>(at);
#if defined(MADV_HUGEPAGE)
            ::madvise(slots_, kBytes, MADV_HUGEPAGE);
#endif
            return;
        }
#endif
        fallback_.assign(kSlots, Entry{});
        slots_ = fallback_.data();
    }
    ~PositionTable() {
#if defined(__unix__)
        if (mapped_)
            ::munmap(mapped_, kBytes + kHugePage);
#endif
    }
    PositionTable(const PositionTable &) = delete;
    PositionTable &operator=(const PositionTable &) = delete;

    Entry &operator[](size_t slot) {
        return slots_[slot];
    }
    const Entry &operator[](size_t slot) const {
        return slots_[slot];
    }

  private:
    const size_t kSlots;
    const size_t kBytes;
    static constexpr size_t kHugePage = size_t(2) << 20;
    void *mapped_ = nullptr;
    Entry *slots_ = nullptr;
    std::vector<Entry> fallback_;
};

// Short matches (a few bytes of a string kept in a translation, say) are
// found by the kShort bytes at a position: of the source every kShortStride
// bytes (a match is taken back over the literal bytes before it), of the
// target every position its literal bytes reach. Each table keeps four
// positions a slot: of the source the first, of the target the latest.
constexpr std::int64_t kShort = 5;
constexpr std::int64_t kShortStride = 2;
// How far after a copy from the source, and how far either side of where
// the source would go on, near matches are looked for.
constexpr std::int64_t kNearAfter = 1024;
constexpr std::int64_t kNear = 64;
// The target's table has a slot for each position it is to hold, from 2^16
// to 2^22: in the first pass, which only looks for what to search the
// source for, at most 2^18 (its pages cost more to touch than the few keys
// it misses); in the second as many as the first noted, or, where that was
// too many, one for each byte of the target.
int targetShortBits(std::int64_t positions) {
    return bitsFor(positions, 16, 22);
}
constexpr int kFirstPassTargetBits = 18;
std::uint64_t shortHash(const unsigned char *bytes) {
    // Four bytes and one, not five through memory: a load of eight bytes
    // from two smaller stores would wait for both.
    static_assert(kShort == 5);
    std::uint32_t low;
    std::memcpy(&low, bytes, 4);
    return (low | std::uint64_t(bytes[4]) << 32) * 0x9E3779B97F4A7C15ull;
}
size_t shortSlot(std::uint64_t hash, int bits) {
    return size_t(hash >> (64 - bits));
}
// The source's table has a slot for each four positions indexed, up to 2^23.
int sourceShortBits(std::int64_t sourceSize) {
    return bitsFor(sourceSize / kShortStride / 4, 16, 23);
}
// An entry of a table of positions: 0 (empty) or the position / stride + 1
// above as many check bits of the hash as the image's size leaves, which tell
// apart most keys that merely share a slot without reading the image.
class EntryCode {
  public:
    // `stride` is a power of two: positions are divided by a shift, which
    // costs far less than a division at every window indexed.
    EntryCode(std::int64_t imageSize, std::int64_t stride)
        : strideBits_(std::countr_zero(std::uint64_t(stride))),
          checkBits_(32 - int(std::bit_width(std::uint64_t(imageSize / stride + 1)))) {}

    std::uint32_t entry(std::int64_t position, std::uint64_t hash) const {
        return std::uint32_t((position >> strideBits_) + 1) << checkBits_ | check(hash);
    }
    // The position an entry holds for `hash`, or -1.
    std::int64_t position(std::uint32_t entry, std::uint64_t hash) const {
        if (entry == 0 || (entry & ((1u << checkBits_) - 1)) != check(hash))
            return -1;
        return std::int64_t((entry >> checkBits_) - 1) << strideBits_;
    }

  private:
    std::uint32_t check(std::uint64_t hash) const {
        return std::uint32_t(hash >> 32) & ((1u << checkBits_) - 1);
    }

    int strideBits_;
    int checkBits_;
};
static_assert(kLastWritableOffset + 1 <= std::int64_t(1) << 32); // an entry fits in 32 bits
static_assert(std::has_single_bit(std::uint64_t(kStride)) &&
              std::has_single_bit(std::uint64_t(kShortStride)));

// A copy the encoder may write: `length` bytes from `from` (in the source, or
// in the target written so far), starting at `start` of the target.
struct Copy {
    int command = 0; // 2 SourceCopy, 3 TargetCopy
    std::int64_t from = 0;
    std::int64_t start = 0;
    std::int64_t length = 0;
};

// The longest and, of those alike, the first stretch of each byte value in
// the source that is a long run (kWindow bytes or more).
struct SourceRun {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

// The first pass searches the source for the keys it looked for if they are
// at most one for each kWantedPer bytes of the source (and at least
// kFewestWanted): then that search and its table cost less than indexing
// the whole source.
constexpr std::int64_t kWantedPer = 32;
constexpr std::int64_t kFewestWanted = 1 << 16;

// Choices that go nowhere: the first pass only notes what it looks for.
class DiscardingSink final : public DeltaSink {
  public:
    void sourceRead(std::int64_t, std::int64_t) override {}
    void literal(std::int64_t, std::int64_t) override {}
    void sourceCopy(std::int64_t, std::int64_t, std::int64_t) override {}
    void targetCopy(std::int64_t, std::int64_t, std::int64_t) override {}
};

// A filter of short keys' hashes: two bits a key in one 64-bit word, so
// that a key not added is turned away by one read nearly always (about 1
// in 70 is let through at 16 bits a key, 1 in 170 at 25).
class KeyFilter {
  public:
    // Room for `keys` keys at 16 to 32 bits each, in at most 4 MiB.
    explicit KeyFilter(std::int64_t keys)
        : wordBits_(bitsFor(16 * keys, 12, 25) - 6), words_(wordBits_) {}

    void add(std::uint64_t hash) { words_[word(hash)] |= bits(hash); }
    bool mayHave(std::uint64_t hash) const {
        return (words_[word(hash)] & bits(hash)) == bits(hash);
    }
    void fetch(std::uint64_t hash) const { __builtin_prefetch(&words_[word(hash)]); }
    bool fitsNearerCaches() const { return wordBits_ <= 15; }

  private:
    std::size_t word(std::uint64_t hash) const { return std::size_t(hash >> (64 - wordBits_)); }
    // From bits below those of the word (at most 19 of the top).
    static std::uint64_t bits(std::uint64_t hash) {
        return std::uint64_t(1) << (hash >> 33 & 63) | std::uint64_t(1) << (hash >> 39 & 63);
    }

    int wordBits_;
    PositionTable<std::uint64_t> words_;
};

// Short keys, each with the first position of the source (a multiple of
// kShortStride) where it is. A key's hash tells it apart from every other
// (the multiplication by an odd number is one to one on kShort bytes), so
// the bytes need not be compared. A bitmap small enough for the processor's
// cache turns away nearly every source position that holds none of them.
class WantedKeys {
  public:
    explicit WantedKeys(std::span<const std::uint64_t> hashes)
        : bits_(bitsFor(2 * std::int64_t(hashes.size()), 6, 62)), keys_(bits_), used_(bits_ - 6),
          positions_(bits_), filter_(std::int64_t(hashes.size())),
          keyCount_(std::int64_t(hashes.size())) {
        for (const std::uint64_t hash : hashes) {
            std::size_t slot = slotOf(hash);
            while (has(used_, slot) && keys_[slot] != hash)
                slot = next(slot);
            keys_[slot] = hash;
            set(used_, slot);
            filter_.add(hash);
        }
    }

    // The two halves of the source are searched at once, each on a core;
    // the upper half's finds count for the keys the lower half lacks.
    void findIn(const unsigned char *source, std::int64_t size) {
        if (keyCount_ == 0) {
            found_.emplace(0);
            return;
        }
        const std::int64_t middle = size / 2 / kShortStride * kShortStride;
        std::vector<std::pair<std::size_t, std::uint32_t>> upper;
        std::thread other([&] {
            PositionTable<std::uint64_t> seen(bits_ - 6);
            search(source, size, middle, size, [&](std::size_t slot, std::int64_t at) {
                if (!has(seen, slot)) {
                    set(seen, slot);
                    upper.emplace_back(slot, std::uint32_t(at + 1));
                }
            });
        });
        std::int64_t found = 0;
        search(source, size, 0, middle, [&](std::size_t slot, std::int64_t at) {
            if (positions_[slot] == 0) {
                positions_[slot] = std::uint32_t(at + 1);
                ++found;
            }
        });
        other.join();
        for (const auto &[slot, at] : upper)
            if (positions_[slot] == 0) {
                positions_[slot] = at;
                ++found;
            }
        // Most keys looked for in data that changed beyond recognition are
        // nowhere in the source: a bitmap of those that are, far smaller
        // than the table, turns the others away.
        found_.emplace(found);
        for (std::size_t slot = 0; slot < (std::size_t(1) << bits_); ++slot)
            if (positions_[slot] != 0)
                found_->add(keys_[slot]);
    }

    // The first position of the key `hash` in the source, or -1.
    std::int64_t firstIn(std::uint64_t hash) const {
        if (!found_->mayHave(hash))
            return -1;
        const std::size_t slot = find(hash);
        return slot == kNone ? -1 : std::int64_t(positions_[slot]) - 1;
    }

  private:
    static constexpr std::size_t kNone = SIZE_MAX;
    static_assert(kLastWritableOffset < UINT32_MAX); // a position + 1 fits a slot

    static bool has(const PositionTable<std::uint64_t> &bits, std::uint64_t bit) {
        return (bits[bit / 64] >> (bit % 64) & 1) != 0;
    }
    static void set(PositionTable<std::uint64_t> &bits, std::uint64_t bit) {
        bits[bit / 64] |= std::uint64_t(1) << (bit % 64);
    }

    // Calls `found` with the slot and the position of each key at the
    // positions of the source from `from` to `to`, in order.
    template <typename Found>
    void search(const unsigned char *source, std::int64_t size, std::int64_t from, std::int64_t to,
                Found found) const {
        // The bitmap's words for positions a little further on are fetched
        // meanwhile: it may be larger than the nearest caches.
        constexpr std::int64_t kAhead = 32 * kShortStride;
        const bool fetch = !filter_.fitsNearerCaches();
        for (std::int64_t at = from; at < to && at + kShort <= size; at += kShortStride) {
            if (fetch && at + kAhead + kShort <= size)
                filter_.fetch(shortHash(source + at + kAhead));
            const std::uint64_t hash = shortHash(source + at);
            if (!filter_.mayHave(hash))
                continue;
            if (const std::size_t slot = find(hash); slot != kNone)
                found(slot, at);
        }
    }

    std::size_t slotOf(std::uint64_t hash) const { return std::size_t(hash >> (64 - bits_)); }
    std::size_t next(std::size_t slot) const {
        return (slot + 1) & ((std::size_t(1) << bits_) - 1);
    }

    std::size_t find(std::uint64_t hash) const {
        for (std::size_t slot = slotOf(hash); has(used_, slot); slot = next(slot))
            if (keys_[slot] == hash)
                return slot;
        return kNone;
    }

    // Each table is mapped zeroed, so that only the pages used are touched.
    int bits_;
    PositionTable<std::uint64_t> keys_;
    PositionTable<std::uint64_t> used_;      // a bit a slot
    PositionTable<std::uint32_t> positions_; // the first position + 1, or 0
    KeyFilter filter_;
    std::int64_t keyCount_;
    std::optional<KeyFilter> found_; // of the keys the source holds
};

// Greedy delta encoding: at each target position the longest of reading the
// source in place, copying from elsewhere in the source or the target, or
// repeating a run; what none of them covers is read from the patch.
class DeltaEncoder {
  public:
    // Whether a pass notes the short keys it looks for in the source, or
    // looks them up.
    enum class Wanted { Note, Look };

    DeltaEncoder(const unsigned char *source, std::int64_t sourceSize, const unsigned char *target,
                 std::int64_t targetSize)
        : source_(source), sourceSize_(sourceSize), target_(target), targetSize_(targetSize) {
        indexLongWindows();
    }

    // Short copies from the source are found through one of two indexes.
    // Most pairs look for them at few places (the bytes around each edit):
    // a first pass without them notes the keys looked for, and the source
    // is searched for just those. Where that pass looks at too many places
    // (text rewritten, unrelated data), every kShortStride-th position of
    // the source is indexed instead.
    void chooseShortIndex() {
        DiscardingSink discard;
        if (run(discard, Wanted::Note)) {
            lastPassTargetBits_ = std::min(targetShortBits(2 * targetNoted_), lastPassTargetBits_);
            wantedKeys_.emplace(std::span(&(*wanted_)[0], wantedCount_));
            wanted_.reset();
            wantedKeys_->findIn(source_, sourceSize_);
        } else {
            wanted_.reset();
            indexShortWindows();
        }
    }

    // One pass over the target, its choices to `sink`; false if, noting the
    // keys looked for, there were more than the source is searched for.
    bool run(DeltaSink &sink, Wanted wanted) {
        sink_ = &sink;
        wantedMode_ = wanted;
        startPass(wanted == Wanted::Note
                      ? std::min(kFirstPassTargetBits, targetShortBits(targetSize_))
                      : lastPassTargetBits_);
        if (wanted == Wanted::Note) {
            wanted_.emplace(bitsFor(std::int64_t(maxWanted()) + 4, 6, 40));
            wantedCount_ = 0;
        }
        std::int64_t at = 0;
        while (at < targetSize_) {
            if (wantedMode_ == Wanted::Note && wantedCount_ > maxWanted())
                return false;
            const std::int64_t inPlace = matchLength(at, at);
            // Where the last source copy ended, the source may go on: a copy
            // from there costs two bytes, whatever its length.
            const std::int64_t goesOn = sourceCursor_ != at && sourceCursor_ < sourceSize_
                                            ? matchLength(sourceCursor_, at)
                                            : 0;
            if (goesOn > inPlace && goesOn >= kWindow) {
                at += write(sourceMatch(sourceCursor_, at), at);
                continue;
            }
            if (inPlace >= kWindow) {
                sourceRead(at, inPlace);
                at += inPlace;
                continue;
            }
            const std::int64_t run = runLength(at);
            // A copy from elsewhere that reaches past a run is better than
            // the run alone.
            if (const Copy moved = longCopy(at);
                moved.length - (at - moved.start) > std::max(inPlace, run)) {
                at += write(moved, at);
                continue;
            }
            if (run >= kWindow && run > inPlace) {
                if (const Copy through = copyThroughRun(at, run);
                    through.length - (at - through.start) > run) {
                    at += write(through, at);
                    continue;
                }
                at += copyRun(at, run);
                continue;
            }
            if (inPlace > 0 && inPlace >= 1 + 1 + (literalStart_ >= 0) + (inPlace == 1)) {
                sourceRead(at, inPlace);
                at += inPlace;
                continue;
            }
            if (run >= kRunWorthIt) {
                at += copyRun(at, run);
                continue;
            }
            // A short run copied whole from an earlier one of the same byte.
            const Run &earlier = longestRun_[target_[at]];
            if (run >= 4 && earlier.length >= run &&
                2 + varintSize(cursorMove(earlier.start, targetCursor_)) < run) {
                at += write({3, earlier.start, at, run}, at);
                continue;
            }
            if (goesOn > inPlace && goesOn >= 4) {
                at += write(sourceMatch(sourceCursor_, at), at);
                continue;
            }
            if (const Copy near = shortCopy(at); near.length > 0 && !betterNext(near, at)) {
                const std::int64_t end = near.start + near.length;
                at += write(near, at);
                // What it wrote may serve later short copies.
                for (std::int64_t p = near.start + 1; p < end && p + kShort <= targetSize_; ++p) {
                    const std::uint64_t hash = shortHash(target_ + p);
                    noteTarget((*targetShorts_)[shortSlot(hash, targetShortBits_)], p, hash);
                    ++targetNoted_;
                }
                continue;
            }
            if (literalStart_ < 0)
                literalStart_ = at;
            ++at;
        }
        flushLiteral(targetSize_);
        return true;
    }

    std::int64_t actions = 0;

  private:
    // The first pass looks for the keys the source is then searched for.
    std::size_t maxWanted() const {
        return std::size_t(std::max<std::int64_t>(kFewestWanted, sourceSize_ / kWantedPer));
    }

    // The source positions of the short key `hash` (-1 where none): from
    // the index this pass has; in the first pass, noted for the search.
    std::array<std::int64_t, 4> sourceShorts(std::uint64_t hash) {
        if (wantedMode_ == Wanted::Note) {
            (*wanted_)[wantedCount_++] = hash;
            return {-1, -1, -1, -1};
        }
        if (wantedKeys_)
            return {wantedKeys_->firstIn(hash), -1, -1, -1};
        const SourceSlot &slot = (*sourceShorts_)[shortSlot(hash, sourceShortBits_)];
        return {sourceCode_.position(slot[0], hash), sourceCode_.position(slot[1], hash),
                sourceCode_.position(slot[2], hash), sourceCode_.position(slot[3], hash)};
    }

    // What each pass starts from.
    void startPass(int targetBits) {
        actions = 0;
        literalStart_ = -1;
        lastSourceEnd_ = std::numeric_limits<std::int64_t>::min() / 2;
        drift_ = 0;
        sourceCursor_ = 0;
        targetCursor_ = 0;
        longestRun_ = {};
        targetShorts_.reset();
        targetShortBits_ = targetBits;
        targetShorts_.emplace(targetShortBits_);
        targetNoted_ = 0;
    }

    // The source every kStride bytes by the hash of its kWindow bytes, from
    // the end back: a slot keeps the last window of its hash (the first one
    // met) and the first three (a copy from the first reaches furthest,
    // through a whole run, say). Long runs are noted as they are met. One
    // core is enough: a second, each with half the slots, was slower, both
    // reading the whole source while the images' checksums take a core.
    void indexLongWindows() {
        constexpr std::int64_t kAhead = 8 * kStride;
        const std::int64_t last = (sourceSize_ - kWindow) / kStride * kStride;
        std::int64_t runStart = sourceSize_;
        for (std::int64_t at = last; at >= 0; at -= kStride) {
            if (at - kAhead >= 0)
                __builtin_prefetch(&table_[slotOf(windowHash(source_ + at - kAhead), tableBits_)],
                                   1);
            if (at < runStart && source_[at] == source_[at + kWindow - 1] &&
                std::memcmp(source_ + at, source_ + at + 1, kWindow - 1) == 0)
                runStart = noteSourceRun(at);
            const std::uint64_t hash = windowHash(source_ + at);
            LongSlot &slot = table_[slotOf(hash, tableBits_)];
            const std::uint32_t entry = longCode_.entry(at, hash);
            if (slot.entries[0] == 0) {
                slot.entries[0] = entry;
            } else if (slot.entries[1] != entry) {
                slot.entries[3] = slot.entries[2];
                slot.entries[2] = slot.entries[1];
                slot.entries[1] = entry;
            }
        }
    }

    // The whole run through `at`; where it starts.
    std::int64_t noteSourceRun(std::int64_t at) {
        const unsigned char byte = source_[at];
        std::int64_t start = at;
        while (start > 0 && source_[start - 1] == byte)
            --start;
        std::int64_t end = at;
        while (end < sourceSize_ && source_[end] == byte)
            ++end;
        SourceRun &known = sourceRuns_[byte];
        if (end - start >= known.length)
            known = {start, end - start};
        return start;
    }

    // Two threads share the work, each the slots of one half of the table,
    // so that each slot is written by one of them in the same order as by one
    // thread alone.
    void indexShortWindows() {
        sourceShorts_.emplace(sourceShortBits_);
        const auto indexHalf = [this, &table = *sourceShorts_](size_t half) {
            const int bits = sourceShortBits_;
            constexpr std::int64_t kAhead = 16 * kShortStride;
            for (std::int64_t at = (sourceSize_ - kShort) / kShortStride * kShortStride; at >= 0;
                 at -= kShortStride) {
                if (at >= kAhead) {
                    const size_t ahead = shortSlot(shortHash(source_ + at - kAhead), bits);
                    if (ahead >> (bits - 1) == half)
                        __builtin_prefetch(&table[ahead], 1);
                }
                const std::uint64_t hash = shortHash(source_ + at);
                if (const size_t slot = shortSlot(hash, bits); slot >> (bits - 1) == half) {
                    std::copy_backward(table[slot].begin(), table[slot].end() - 1,
                                       table[slot].end());
                    table[slot][0] = sourceCode_.entry(at, hash);
                }
            }
        };
        std::thread other(indexHalf, size_t(1));
        indexHalf(0);
        other.join();
    }

    std::int64_t matchLength(std::int64_t sourceAt, std::int64_t targetAt) const {
        const std::int64_t limit = std::min(sourceSize_ - sourceAt, targetSize_ - targetAt);
        std::int64_t n = 0;
        while (n + 8 <= limit &&
               std::memcmp(source_ + sourceAt + n, target_ + targetAt + n, 8) == 0)
            n += 8;
        while (n < limit && source_[sourceAt + n] == target_[targetAt + n])
            ++n;
        return std::max<std::int64_t>(n, 0);
    }

    // The longest match between the target at `at` and itself from `from`
    // on (before `at`: the copy may run into what it writes).
    std::int64_t targetMatch(std::int64_t from, std::int64_t at) const {
        std::int64_t n = 0;
        while (at + n < targetSize_ && target_[from + n] == target_[at + n])
            ++n;
        return n;
    }

    std::int64_t runLength(std::int64_t at) const {
        std::int64_t end = at + 1;
        while (end < targetSize_ && target_[end] == target_[at])
            ++end;
        return end - at;
    }

    // A source copy from `from` to `at`, taken back over the literal bytes
    // before `at` as far as they match.
    Copy sourceMatch(std::int64_t from, std::int64_t at) const {
        return sourceMatch(from, at, literalStart_ >= 0 ? literalStart_ : at);
    }
    // The same taken back as far as `floor`.
    Copy sourceMatch(std::int64_t from, std::int64_t at, std::int64_t floor) const {
        Copy copy{2, from, at, matchLength(from, at)};
        while (copy.start > floor && copy.from > 0 &&
               source_[copy.from - 1] == target_[copy.start - 1]) {
            --copy.start;
            --copy.from;
            ++copy.length;
        }
        return copy;
    }

    // What a copy costs in the patch, the literal stretch it cuts included.
    std::int64_t cost(const Copy &copy) const {
        const std::int64_t cursor = copy.command == 2 ? sourceCursor_ : targetCursor_;
        return varintSize(std::uint64_t(copy.length - 1) << 2) +
               varintSize(cursorMove(copy.from, cursor)) +
               (literalStart_ >= 0 && copy.start > literalStart_ ? 1 : 0);
    }

    // Of two copies, the one that covers more from `at`, or of those alike
    // the cheaper.
    Copy better(const Copy &a, const Copy &b, std::int64_t at) const {
        const std::int64_t coverA = a.length - (at - a.start);
        const std::int64_t coverB = b.length - (at - b.start);
        if (coverA != coverB)
            return coverA > coverB ? a : b;
        return cost(a) <= cost(b) ? a : b;
    }

    // A long copy from elsewhere in the source (kWindow bytes or more), the
    // better of the two a slot holds; none (length 0) otherwise.
    Copy longCopy(std::int64_t at) {
        // Literal bytes are tried one after another: the slot of one a little
        // further on is fetched meanwhile.
        constexpr std::int64_t kAhead = 8;
        if (at + kAhead + kWindow <= targetSize_)
            __builtin_prefetch(&table_[slotOf(windowHash(target_ + at + kAhead), tableBits_)]);
        return longCopy(at, at);
    }
    // The same found by the window at `probe` (at `at` or after it) and taken
    // back to `at` at least.
    Copy longCopy(std::int64_t at, std::int64_t probe) const {
        if (probe + kWindow > targetSize_)
            return {};
        const std::uint64_t hash = windowHash(target_ + probe);
        const LongSlot slot = table_[slotOf(hash, tableBits_)];
        const std::int64_t floor = literalStart_ >= 0 ? literalStart_ : at;
        Copy best;
        for (const std::uint32_t entry : slot.entries) {
            const std::int64_t from = longCode_.position(entry, hash);
            if (from < 0)
                continue;
            if (const Copy copy = sourceMatch(from, probe, floor);
                copy.start <= at && copy.length - (at - copy.start) >= kWindow)
                best = best.length == 0 ? copy : better(best, copy, at);
        }
        return best;
    }

    // A copy from elsewhere through a run and what follows it: found by a
    // window across the run's end, which the run's own windows do not tell.
    Copy copyThroughRun(std::int64_t at, std::int64_t run) const {
        Copy best;
        for (std::int64_t probe = std::max(at, at + run - kWindow + 1); probe < at + run; ++probe)
            if (const Copy copy = longCopy(at, probe); copy.length > 0)
                best = best.length == 0 ? copy : better(best, copy, at);
        return best;
    }

    // Writes a run of `length` bytes at `at`: copied whole from the longest
    // run of its byte written so far or in the source, whichever is there and
    // cheaper, or else its first byte read from the patch and repeated.
    std::int64_t copyRun(std::int64_t at, std::int64_t length) {
        const unsigned char byte = target_[at];
        Copy best;
        if (const Run &earlier = longestRun_[byte]; earlier.length >= length)
            best = {3, earlier.start, at, length};
        if (const SourceRun &known = sourceRuns_[byte]; known.length >= length) {
            const Copy fromSource{2, known.start, at, length};
            best = best.length == 0 || cost(fromSource) < cost(best) ? fromSource : best;
        }
        if (best.length == 0) {
            literalStart_ = literalStart_ < 0 ? at : literalStart_;
            flushLiteral(at + 1);
            copyFromTarget(at, at + 1, length - 1);
        } else {
            write(best, at);
        }
        if (length > longestRun_[byte].length)
            longestRun_[byte] = {at, length};
        return length;
    }

    // A short copy from the source or from the target written so far, where
    // it costs fewer bytes than reading those bytes from the patch; none
    // (length 0) otherwise.
    Copy shortCopy(std::int64_t at) {
        if (at + kShort > targetSize_)
            return {};
        // Literal bytes are tried one after another: the slots of one a little
        // further on are fetched meanwhile.
        constexpr std::int64_t kAhead = 16;
        if (at + kAhead + kShort <= targetSize_) {
            const std::uint64_t ahead = shortHash(target_ + at + kAhead);
            if (sourceShorts_)
                __builtin_prefetch(&(*sourceShorts_)[shortSlot(ahead, sourceShortBits_)]);
            __builtin_prefetch(&(*targetShorts_)[shortSlot(ahead, targetShortBits_)], 1);
        }
        const std::uint64_t hash = shortHash(target_ + at);
        TargetSlot &targetSlot = (*targetShorts_)[shortSlot(hash, targetShortBits_)];
        Copy best;
        std::int64_t bestGain = 0;
        // A copy from the target written so far is taken even where it costs
        // what reading its bytes would: the target's cursor it leaves there
        // makes the next copies of text written so far cheaper.
        const auto consider = [&](const Copy &copy) {
            const std::int64_t gain = copy.length - cost(copy) + (copy.command == 3 ? 1 : 0);
            if (gain > bestGain) {
                bestGain = gain;
                best = copy;
            }
        };
        for (const std::int64_t from : sourceShorts(hash))
            if (from >= 0 && from != at)
                consider(sourceMatch(from, at));
        for (const std::uint64_t entry : targetSlot)
            if (const std::int64_t from = targetCode_.position(entry, hash); from >= 0 && from < at)
                consider({3, from, at, targetMatch(from, at)});
        noteTarget(targetSlot, at, hash);
        ++targetNoted_;
        // Shortly after a copy from the source, what follows is often there
        // too, a few bytes further on or back (a string a byte or two longer
        // or shorter before it).
        if (at - lastSourceEnd_ <= kNearAfter) {
            // Places that start with the same byte are found by memchr, which
            // passes over the others many at a time.
            const std::int64_t base = at + drift_;
            const std::int64_t first = std::max<std::int64_t>(0, base - kNear);
            const std::int64_t last = std::min(base + kNear, sourceSize_ - 4);
            for (std::int64_t from = first; from <= last; ++from) {
                const void *found =
                    std::memchr(source_ + from, target_[at], size_t(last + 1 - from));
                if (!found)
                    break;
                from = static_cast<const unsigned char *>(found) - source_;
                if (std::memcmp(source_ + from, target_ + at, 4) == 0 && from != at)
                    consider(sourceMatch(from, at));
            }
        }
        return best;
    }

    // Whether a short copy from the next byte on saves more than reading
    // this one from the patch costs.
    bool betterNext(const Copy &here, std::int64_t at) {
        if (at + 1 + kShort > targetSize_)
            return false;
        const std::int64_t literal = literalStart_;
        literalStart_ = literalStart_ < 0 ? at : literalStart_;
        const Copy next = shortCopy(at + 1);
        literalStart_ = literal;
        return next.length > 0 && next.start > at &&
               next.length - cost(next) > here.length - cost(here) + 1;
    }

    // Writes `copy`, the literal bytes before it first; the bytes it covers
    // from `at`, where the encoder stands (`copy.start` may lie before it).
    std::int64_t write(const Copy &copy, std::int64_t at) {
        flushLiteral(copy.start);
        if (copy.command == 2) {
            sink_->sourceCopy(copy.from, copy.start, copy.length);
            ++actions;
            sourceCursor_ = copy.from + copy.length;
            lastSourceEnd_ = copy.start + copy.length;
            drift_ = copy.from - copy.start;
        } else {
            copyFromTarget(copy.from, copy.start, copy.length);
        }
        return copy.length - (at - copy.start);
    }

    static std::uint64_t cursorMove(std::int64_t to, std::int64_t from) {
        const std::int64_t delta = to - from;
        return std::uint64_t(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0);
    }

    static int varintSize(std::uint64_t value) {
        int size = 1;
        for (; value >= 0x80; ++size)
            value = (value >> 7) - 1;
        return size;
    }

    void sourceRead(std::int64_t at, std::int64_t length) {
        flushLiteral(at);
        sink_->sourceRead(at, length);
        ++actions;
        lastSourceEnd_ = at + length;
        drift_ = 0;
    }

    void copyFromTarget(std::int64_t from, std::int64_t start, std::int64_t length) {
        sink_->targetCopy(from, start, length);
        ++actions;
        targetCursor_ = from + length;
    }

    void flushLiteral(std::int64_t end) {
        if (literalStart_ < 0)
            return;
        if (end > literalStart_) {
            sink_->literal(literalStart_, end - literalStart_);
            ++actions;
        }
        literalStart_ = -1;
    }

    // The last window of a hash in the source, then the first three (the
    // first of all in [1]).
    struct LongSlot {
        std::array<std::uint32_t, 4> entries{};
    };

    const unsigned char *source_;
    std::int64_t sourceSize_;
    const unsigned char *target_;
    std::int64_t targetSize_;
    DeltaSink *sink_ = nullptr;
    int tableBits_ = longTableBits(sourceSize_);
    PositionTable<LongSlot> table_{tableBits_};
    const EntryCode longCode_{sourceSize_, kStride};
    int sourceShortBits_ = sourceShortBits(sourceSize_);
    // The first four positions of the source a slot.
    using SourceSlot = std::array<std::uint32_t, 4>;
    const EntryCode sourceCode_{sourceSize_, kShortStride};
    std::optional<PositionTable<SourceSlot>> sourceShorts_;
    // The keys the first pass looked for: room for those the source may be
    // searched for and the few one position adds.
    std::optional<PositionTable<std::uint64_t>> wanted_;
    std::size_t wantedCount_ = 0;
    std::optional<WantedKeys> wantedKeys_;
    Wanted wantedMode_ = Wanted::Note;
    int targetShortBits_ = 0;
    int lastPassTargetBits_ = targetShortBits(targetSize_);
    // The latest four positions of the target a slot.
    using TargetSlot = std::array<std::uint32_t, 4>;
    const EntryCode targetCode_{targetSize_, 1};
    void noteTarget(TargetSlot &slot, std::int64_t position, std::uint64_t hash) const {
        if (const std::uint32_t entry = targetCode_.entry(position, hash); slot[0] != entry) {
            std::copy_backward(slot.begin(), slot.end() - 1, slot.end());
            slot[0] = entry;
        }
    }
    std::optional<PositionTable<TargetSlot>> targetShorts_;
    std::int64_t targetNoted_ = 0; // entries written to it this pass, to size the next
    std::array<SourceRun, 256> sourceRuns_{};
    // The longest run of each byte value written so far.
    struct Run {
        std::int64_t start = 0;
        std::int64_t length = 0;
    };
    std::array<Run, 256> longestRun_{};
    std::int64_t literalStart_ = -1;
    // Where the last copy from the source ended in the target, and how far
    // its source lay ahead of it.
    std::int64_t lastSourceEnd_ = std::numeric_limits<std::int64_t>::min() / 2;
    std::int64_t drift_ = 0;
    std::int64_t sourceCursor_ = 0;
    std::int64_t targetCursor_ = 0;
};

} // namespace

std::int64_t encodeDelta(const unsigned char *source, std::int64_t sourceSize,
                         const unsigned char *target, std::int64_t targetSize, DeltaSink &sink) {
    DeltaEncoder encoder(source, sourceSize, target, targetSize);
    encoder.chooseShortIndex();
    encoder.run(sink, DeltaEncoder::Wanted::Look);
    return encoder.actions;
}

bool WholeFile::open(const std::filesystem::path &path) {
    if (!file_.open(path))
        return false;
    size_ = file_.size();
    if (size_ == 0)
        return true;
    data_ = reinterpret_cast<const unsigned char *>(file_.map(0, size_));
    if (!data_) {
        copy_.resize(size_t(size_));
        if (file_.readAt(0, copy_.data(), size_) != size_)
            return false;
        data_ = reinterpret_cast<const unsigned char *>(copy_.data());
    }
    return true;
}

std::optional<CreateOutcome> DeltaFiles::open(const CreateJob &job, CreateResult &result) {
    if (const auto refused = refusedPatchPath(job, result))
        return refused;
    if (!original.open(job.originalPath))
        return CreateOutcome::OriginalUnreadable;
    if (!modified.open(job.modifiedPath))
        return CreateOutcome::ModifiedUnreadable;
    if (original.size() > kLastWritableOffset || modified.size() > kLastWritableOffset)
        return CreateOutcome::ModifiedTooLarge;
    patch_.emplace(job.patchPath);
    if (!patch_->open()) {
        result.systemError = patch_->errorString();
        return CreateOutcome::WriteFailed;
    }
    result.folderFlushError = patch_->folderFlushError();
    return std::nullopt;
}

CreateOutcome DeltaFiles::commit(bool written, std::int64_t size, std::int64_t made,
                                 CreateResult &result) {
    if (!written || !patch_->finish(size) || !patch_->commit()) {
        result.systemError = patch_->errorString();
        return CreateOutcome::WriteFailed;
    }
    result.folderFlushError = patch_->folderFlushError();
    result.records = made;
    result.bytesWritten = modified.size();
    result.patchSize = size;
    return CreateOutcome::Created;
}

} // namespace tarnic
