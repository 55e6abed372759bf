#pragma once
// The IPS patch, and IPS32 for larger images:
//
//   "PATCH" (IPS32: "IPS32"), then records back to back until "EOF" (IPS32:
//   "EEOF") stands where an offset would; an IPS patch may end with a 3-byte
//   length that the result is cut (or grown) to.
//
// A record is an offset (3 bytes, IPS32 4, big-endian) and a size (2 bytes):
// size bytes follow and are written at the offset; size 0 is a run: a count
// (2 bytes) and the byte written that many times. A run of count 0, a record
// cut short, a patch without its end mark, or anything after the end mark but
// nothing or (IPS) a 3-byte length, breaks the format.

#include "patch/records/RecordStream.h"

#include "patch/PatchApplication.h"
#include "patch/PatchCreation.h"
#include "patch/PatchSummary.h"
#include "patch/ResultPlace.h"

#include "io/Reader.h"

#include <optional>
#include <vector>

namespace tarnic {

inline constexpr char kIpsMagic[] = "PATCH";
inline constexpr char kIps32Magic[] = "IPS32";
inline constexpr std::int64_t kIpsMagicSize = 5;

class IpsRecordReader : public RecordStream {
  public:
    IpsRecordReader(Reader &stream, bool ips32) : stream_(stream), ips32_(ips32) {}
    // Truncated also for a stream that breaks the format's rules.
    Step next(PatchRecord &record) override;
    // After End: the length the result is to have, where the patch gives one.
    std::optional<std::int64_t> resultLength() const override { return truncation_; }

  private:
    Reader &stream_;
    bool ips32_;
    std::optional<std::int64_t> truncation_;
    std::vector<char> data_ = std::vector<char>(65535);
};

// Reads an IPS or IPS32 patch from start to end, holding one record at a time.
PatchFileCheck checkIpsFile(const std::filesystem::path &patchPath);
// Applies an IPS or IPS32 patch with the record engine: checked whole, then
// written. The result is as long as the patch's length for it, where it gives
// one, else as the image or as far as the records reach.
ApplyResult applyIps(const PatchJob &job);
// The same on a patch and an image read from anywhere, the result put in
// `place`.
ApplyResult applyIpsTo(Reader &patch, Reader &image, ResultPlace &place, bool skipSourceCheck);

// An IPS patch that turns one image into the other: changes closer than six
// bytes joined into one record, runs as RLE records where that is smaller, no
// record at the offset that reads "EOF", and the length of a shorter result
// after the end mark. For images up to 16 MiB; IPS has no description.
CreateResult createIpsPatch(const CreateJob &job);

// What the patch says of itself: its records, read with ReadDepth::Whole.
PatchSummary summarizeIps(const std::filesystem::path &patchPath, ReadDepth depth);

} // namespace tarnic
