#include "patch/PatchSummary.h"

#include <cstdio>

namespace tarnic {

PatchSummary sourceCrcSummary(PatchFormat format, const char *kind, const char *heading,
                              PatchRead read, PatchFault fault) {
    PatchSummary summary;
    summary.format = format;
    summary.kind = kind;
    summary.heading = heading;
    summary.checks = PatchChecks::SourceCrc;
    summary.namesByteOrder = true;
    summary.read = read;
    summary.fault = fault;
    return summary;
}

std::string crc32Hex(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", unsigned(crc));
    return text;
}

std::string sizeAndCrc(std::uint64_t size, std::uint32_t crc) {
    return std::to_string(size) + " bytes, CRC-32 " + crc32Hex(crc);
}

} // namespace tarnic
