#pragma once
// A patch's records, read one at a time, whatever format they come in: the
// formats whose records write bytes at offsets (APS, IPS, PPF, and UPS, whose
// records XOR theirs onto the image's) each have a reader of this shape, and
// one engine applies them all (patch/records/RecordEngine.h).

#include "patch/PatchSummary.h"

#include <cstdint>
#include <optional>

namespace tarnic {

// The highest image offset a record may write to, and so the largest result.
inline constexpr std::int64_t kLastWritableOffset = 0x7FFFFFFF;
inline constexpr std::uint64_t kLargestResult = std::uint64_t(kLastWritableOffset) + 1;

// One record of a patch that writes bytes at offsets: an APS record, or one of
// another such format (IPS), whose offsets and lengths may be wider.
struct PatchRecord {
    std::int64_t Offset = 0;
    std::uint16_t Length = 0; // 0: run record
    std::uint8_t RunValue = 0;
    std::uint16_t RunCount = 0;
    const char *Data = nullptr; // copy record: its Length bytes, valid until the next record

    // How many image bytes the record writes.
    int writtenSize() const { return Length != 0 ? Length : RunCount; }
};

class RecordStream {
  public:
    enum class Step {
        Record,     // `record` holds the next record
        End,        // the stream ended between two records: it is complete
        Truncated,  // the stream ended inside a record, or broke its format's rules
        ReadFailed, // the file could not be read
    };

    virtual ~RecordStream() = default;
    virtual Step next(PatchRecord &record) = 0;
    // After End: the length the result is to have, where the patch sets one.
    virtual std::optional<std::int64_t> resultLength() const { return std::nullopt; }
    // After Truncated: what is wrong, in the format's terms.
    PatchFault fault() const { return fault_; }

  protected:
    Step broken(PatchFault fault) {
        fault_ = fault;
        return Step::Truncated;
    }

  private:
    PatchFault fault_ = PatchFault::EndsInsideRecord;
};

} // namespace tarnic
