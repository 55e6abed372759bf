#pragma once
// The N64 header checksum: the two 32-bit words at 0x10 (CRC1) and 0x14 (CRC2),
// in cartridge order, that the cartridge's boot code computes at power-on over
// the 1 MiB from 0x1000. Which boot code (CIC kind) the image has decides the
// seed and the mixing; it is told from the MD5 digest of the boot code itself.

#include "rom/ImageHeader.h"

#include <string>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tarnic {

enum class BootCode { Cic6101, Cic6102, Cic7102, Cic6103, Cic6105, Cic6106 };

// The name shown for a kind ("6102" for 6102 and 7101 alike).
std::string bootCodeName(BootCode kind);
// A kind from what a user may type: "6102", "7101", "CIC-6102", "cic6103"...
std::optional<BootCode> bootCodeNamed(const std::string &name);
// The kind whose boot code (bytes 0x40 to 0xFFF, cartridge order) has this MD5
// digest (16 raw bytes); none for any other boot code.
std::optional<BootCode> bootCodeWithDigest(const std::string &md5);

inline constexpr std::int64_t kBootCodeStart = 0x40;
inline constexpr std::int64_t kChecksumStart = 0x1000;
inline constexpr std::int64_t kChecksumLength = 0x100000;
// The shortest image that can be checksummed.
inline constexpr std::int64_t kChecksummedSize = kChecksumStart + kChecksumLength;

struct HeaderChecksum {
    std::uint32_t crc1 = 0;
    std::uint32_t crc2 = 0;
    bool operator==(const HeaderChecksum &) const = default;
};

// `image` holds at least kChecksummedSize bytes in cartridge order.
HeaderChecksum computeChecksum(const char *image, BootCode kind);

enum class ChecksumOutcome {
    Checked,         // `computed` holds the checksum of the kind used
    CannotOpen,      // missing, not a plain file, or a read failed
    Unrecognised,    // not an image in any of the three orders
    TooShort,        // shorter than kChecksummedSize bytes
    UnknownBootCode, // the boot code is none of the known kinds and none was given
};

struct ChecksumReport {
    ChecksumOutcome outcome = ChecksumOutcome::CannotOpen;
    ByteOrder order = ByteOrder::Unknown;
    std::optional<BootCode> detected; // told from the boot code
    std::optional<BootCode> used;     // the kind given, or else the one detected
    HeaderChecksum stored;            // what the header holds
    HeaderChecksum computed;
    bool valid() const { return outcome == ChecksumOutcome::Checked && stored == computed; }
};

// Reads the first kChecksummedSize bytes of the image and nothing else.
ChecksumReport checkChecksum(const std::filesystem::path &imagePath,
                             std::optional<BootCode> given = {});

enum class ChecksumFixOutcome {
    Written,      // the header now holds the computed checksum
    AlreadyValid, // nothing written
    NotChecked,   // the checksum could not be computed (see the report): nothing written
    WriteFailed,  // read-only, or a write failed: the image unchanged (read back to be sure)
    Busy,         // another Tarnic operation works on the image: nothing written
    Changed,      // another program changed the image meanwhile: nothing replaced
    LeftUnsure,   // every write failed; the header reads as the computed checksum, which
                  // may not be on disk
    LeftUnknown,  // a write failed and the header holds neither checksum, or cannot be read
};

struct ChecksumFix {
    ChecksumFixOutcome outcome = ChecksumFixOutcome::NotChecked;
    ChecksumReport report;
    std::string systemError; // WriteFailed: the system's reason, where it gave one
    // Written, but the folder could not be flushed after a whole rewrite.
    std::string folderFlushError;
};

// Writes the computed checksum into the header, in the image's own byte order,
// all or nothing, holding the image's lock (files/FileLock.h) throughout.
ChecksumFix fixChecksum(const std::filesystem::path &imagePath, std::optional<BootCode> given = {});

// A checksum as "XXXXXXXX : XXXXXXXX", the form the window shows.
std::string checksumText(const HeaderChecksum &checksum);

} // namespace tarnic
