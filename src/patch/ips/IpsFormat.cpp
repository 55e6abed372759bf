#include "patch/ips/IpsFormat.h"

#include "files/SafeWrite.h"
#include "patch/PatchFormat.h"
#include "patch/records/RecordEngine.h"

#include "io/Endian.h"

#include <cstring>

namespace tarnic {

IpsRecordReader::Step IpsRecordReader::next(PatchRecord &record) {
    const std::int64_t offsetSize = ips32_ ? 4 : 3;
    unsigned char head[5];
    std::int64_t got = stream_.read(reinterpret_cast<char *>(head), offsetSize);
    if (got < 0)
        return Step::ReadFailed;
    if (got < offsetSize)
        return broken(PatchFault::NoEndMark);
    if (std::memcmp(head, ips32_ ? "EEOF" : "EOF", size_t(offsetSize)) == 0) {
        // Nothing may follow, or (IPS) the length of the result.
        unsigned char tail[4];
        got = stream_.read(reinterpret_cast<char *>(tail), 4);
        if (got < 0)
            return Step::ReadFailed;
        if (got == 0)
            return Step::End;
        if (!ips32_ && got == 3) {
            truncation_ = std::int64_t(tail[0]) << 16 | std::int64_t(tail[1]) << 8 | tail[2];
            return Step::End;
        }
        return broken(PatchFault::DataAfterEndMark);
    }
    record.Offset = ips32_ ? std::int64_t(fromBigEndian<std::uint32_t>(head))
                           : std::int64_t(head[0]) << 16 | std::int64_t(head[1]) << 8 | head[2];
    unsigned char size[2];
    if (stream_.read(reinterpret_cast<char *>(size), 2) != 2)
        return Step::Truncated;
    record.Length = fromBigEndian<std::uint16_t>(size);
    record.Data = nullptr;
    if (record.Length != 0) {
        if (stream_.read(data_.data(), record.Length) != record.Length)
            return Step::Truncated;
        record.Data = data_.data();
        return Step::Record;
    }
    unsigned char run[3];
    if (stream_.read(reinterpret_cast<char *>(run), 3) != 3)
        return Step::Truncated;
    record.RunCount = fromBigEndian<std::uint16_t>(run);
    record.RunValue = run[2];
    return record.RunCount == 0 ? broken(PatchFault::EmptyRun) : Step::Record;
}

namespace {

// IPS or IPS32, told by the patch's first bytes.
bool isIps32(Reader &patch) {
    char magic[kIpsMagicSize] = {};
    return patch.readAt(0, magic, kIpsMagicSize) == kIpsMagicSize &&
           std::memcmp(magic, kIps32Magic, kIpsMagicSize) == 0;
}

bool isIps32(const std::filesystem::path &patchPath) {
    FileReader probe;
    return probe.open(patchPath) && isIps32(probe);
}

// Reads the magic, leaving the file at the records.
HeaderReader ipsHeaderReader(bool ips32) {
    return [ips32](Reader &patch, PatchFileCheck &check) {
        char magic[kIpsMagicSize];
        const std::int64_t got = patch.read(magic, kIpsMagicSize);
        if (got < 0)
            return PatchFileOutcome::Unreadable;
        if (got < kIpsMagicSize ||
            std::memcmp(magic, ips32 ? kIps32Magic : kIpsMagic, kIpsMagicSize) != 0)
            return PatchFileOutcome::NotAnApsFile;
        check.recordsStart = kIpsMagicSize;
        return PatchFileOutcome::Valid;
    };
}

RecordRules ipsRules(bool ips32) {
    RecordRules rules;
    rules.open = [ips32](Reader &patch) { return std::make_unique<IpsRecordReader>(patch, ips32); };
    return rules;
}

} // namespace

ApplyResult applyIps(const PatchJob &job) {
    const bool ips32 = isIps32(job.patchPath);
    return applyRecords(job, ipsRules(ips32), ipsHeaderReader(ips32));
}

ApplyResult applyIpsTo(Reader &patch, Reader &image, ResultPlace &place, bool) {
    const bool ips32 = isIps32(patch);
    return applyRecordsTo(patch, image, place, ipsRules(ips32), ipsHeaderReader(ips32));
}

PatchFileCheck checkIpsFile(const std::filesystem::path &patchPath) {
    const bool ips32 = isIps32(patchPath);
    return checkRecordFile(patchPath, ipsRules(ips32), ipsHeaderReader(ips32));
}

PatchSummary summarizeIps(const std::filesystem::path &patchPath, ReadDepth depth) {
    PatchSummary summary;
    const bool ips32 = isIps32(patchPath);
    summary.format = ips32 ? PatchFormat::Ips32 : PatchFormat::Ips;
    summary.kind = ips32 ? "ips32-patch" : "ips-patch";
    summary.heading = ips32 ? "IPS32 patch" : "IPS patch";
    PatchFileCheck check;
    if (depth == ReadDepth::Whole) {
        check = checkIpsFile(patchPath);
    } else {
        FileReader patch;
        if (patch.open(patchPath))
            check.outcome = ipsHeaderReader(ips32)(patch, check);
    }
    summary.fault = check.fault;
    summary.read = readOf(check.outcome, summary.fault);
    if (!summary.readable() || depth != ReadDepth::Whole)
        return summary;
    summary.lines = {{"Records", std::to_string(check.records)},
                     {"Bytes written", std::to_string(check.bytesWritten)},
                     {"Result length", check.truncation
                                           ? std::to_string(*check.truncation)
                                           : std::string("as the image, or as far as a record "
                                                         "reaches")}};
    summary.fields = {{"records", std::int64_t(check.records)},
                      {"bytesWritten", std::int64_t(check.bytesWritten)}};
    if (check.truncation)
        summary.fields.push_back({"resultLength", std::int64_t(*check.truncation)});
    return summary;
}

} // namespace tarnic
