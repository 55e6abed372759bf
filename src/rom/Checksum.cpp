#include "rom/Checksum.h"

#include "files/FileLock.h"
#include "files/FileReader.h"
#include "files/Hashes.h"
#include "files/OwnNames.h"
#include "files/SafeWrite.h"
#include "io/Endian.h"
#include "rom/ByteOrderConversion.h"

#include <array>
#include <bit>
#include <filesystem>
#include <vector>

namespace tarnic {

namespace {

enum class Finish { Xor, Add, Multiply };

struct KindParameters {
    BootCode kind;
    std::uint32_t seed;
    std::uint32_t magic;
    Finish finish;
};

constexpr std::array<KindParameters, 6> kKinds = {{
    {BootCode::Cic6101, 0x3F, 0x5D588B65, Finish::Xor},
    {BootCode::Cic6102, 0x3F, 0x5D588B65, Finish::Xor},
    {BootCode::Cic7102, 0x3F, 0x5D588B65, Finish::Xor},
    {BootCode::Cic6103, 0x78, 0x6C078965, Finish::Add},
    {BootCode::Cic6105, 0x91, 0x5D588B65, Finish::Xor},
    {BootCode::Cic6106, 0x85, 0x6C078965, Finish::Multiply},
}};

const KindParameters &parametersOf(BootCode kind) {
    return kKinds[size_t(kind)];
}

struct KnownDigest {
    const char *md5;
    BootCode kind;
};

constexpr std::array<KnownDigest, 6> kDigests = {{
    {"900b4a5b68edb71f4c7ed52acd814fc5", BootCode::Cic6101},
    {"e24dd796b2fa16511521139d28c8356b", BootCode::Cic6102},
    {"955894c2e40a698bf98a67b78a4e28fa", BootCode::Cic7102},
    {"319038097346e12c26c3c21b56f86f23", BootCode::Cic6103},
    {"ff22a296e55d34ab0a077dc2ba5f5796", BootCode::Cic6105},
    {"6460387749ac0bd925aa5430bc7864fe", BootCode::Cic6106},
}};

std::uint32_t bigEndianAt(const char *data, std::int64_t offset) {
    return fromBigEndian<std::uint32_t>(data + offset);
}

CrcBytes bigEndianBytes(std::uint32_t value) {
    CrcBytes bytes;
    toBigEndian(value, bytes.data());
    return bytes;
}

constexpr std::int64_t kCrc1Offset = 0x10;

} // namespace

std::string bootCodeName(BootCode kind) {
    switch (kind) {
    case BootCode::Cic6101:
        return std::string("6101");
    case BootCode::Cic6102:
        return std::string("6102");
    case BootCode::Cic7102:
        return std::string("7102");
    case BootCode::Cic6103:
        return std::string("6103");
    case BootCode::Cic6105:
        return std::string("6105");
    case BootCode::Cic6106:
        return std::string("6106");
    }
    return std::string();
}

std::optional<BootCode> bootCodeNamed(const std::string &name) {
    // "cic", then one of "-", "_", " " where it likes, then four digits.
    std::string_view rest = name;
    const std::string text = lowered(trimmed(name));
    rest = text;
    if (rest.starts_with("cic"))
        rest.remove_prefix(3);
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '_' || rest.front() == ' '))
        rest.remove_prefix(1);
    if (rest.size() != 4 ||
        !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::string_view digits = rest;
    const std::pair<const char *, BootCode> names[] = {
        {"6101", BootCode::Cic6101}, {"6102", BootCode::Cic6102}, {"7101", BootCode::Cic6102},
        {"7102", BootCode::Cic7102}, {"6103", BootCode::Cic6103}, {"7103", BootCode::Cic6103},
        {"6105", BootCode::Cic6105}, {"7105", BootCode::Cic6105}, {"6106", BootCode::Cic6106},
        {"7106", BootCode::Cic6106},
    };
    for (const auto &[text, kind] : names) {
        if (digits == text)
            return kind;
    }
    return std::nullopt;
}

std::optional<BootCode> bootCodeWithDigest(const std::string &md5) {
    const std::string hex = hexOf(md5);
    for (const KnownDigest &known : kDigests) {
        if (hex == known.md5)
            return known.kind;
    }
    return std::nullopt;
}

HeaderChecksum computeChecksum(const char *image, BootCode kind) {
    const KindParameters &p = parametersOf(kind);
    const std::uint32_t start = p.seed * p.magic + 1;
    std::uint32_t sum = start, carries = start, xors = start, rotated = start, mixed = start,
                  accumulated = start;
    for (std::uint32_t i = 0; i < kChecksumLength / 4; ++i) {
        const std::uint32_t w = bigEndianAt(image, kChecksumStart + 4 * std::int64_t(i));
        const std::uint32_t newSum = sum + w;
        if (newSum < sum)
            ++carries;
        sum = newSum;
        const std::uint32_t r = std::rotl(w, int(w & 31));
        xors ^= w;
        rotated += r;
        mixed ^= mixed < w ? sum ^ w : r;
        if (kind == BootCode::Cic6105)
            accumulated += w ^ bigEndianAt(image, 0x750 + 4 * std::int64_t(i & 0x3F));
        else
            accumulated += w ^ rotated;
    }
    switch (p.finish) {
    case Finish::Xor:
        return {sum ^ carries ^ xors, rotated ^ mixed ^ accumulated};
    case Finish::Add:
        return {(sum ^ carries) + xors, (rotated ^ mixed) + accumulated};
    case Finish::Multiply:
        return {sum * carries + xors, rotated * mixed + accumulated};
    }
    return {};
}

ChecksumReport checkChecksum(const std::filesystem::path &imagePath,
                             std::optional<BootCode> given) {
    ChecksumReport report;
    FileReader file;
    if (!file.open(imagePath))
        return report;
    std::vector<char> image(kChecksummedSize);
    const std::int64_t got = file.readAt(0, image.data(), kChecksummedSize);
    if (got < 0)
        return report;
    HeaderBytes header{};
    std::copy_n(image.begin(), std::min<std::int64_t>(got, kImageHeaderSize), header.begin());
    report.order = byteOrderOf(header);
    const auto finish = [&](ChecksumOutcome outcome) {
        report.outcome = outcome;
        return report;
    };
    if (report.order == ByteOrder::Unknown)
        return finish(ChecksumOutcome::Unrecognised);
    if (got < kChecksummedSize)
        return finish(ChecksumOutcome::TooShort);

    reorderBytes(image.data(), kChecksummedSize, report.order, ByteOrder::Cartridge);
    report.stored = {bigEndianAt(image.data(), kCrc1Offset),
                     bigEndianAt(image.data(), kCrc1Offset + 4)};
    report.detected =
        bootCodeWithDigest(md5Of(image.data() + kBootCodeStart, kChecksumStart - kBootCodeStart));
    report.used = given ? given : report.detected;
    if (!report.used)
        return finish(ChecksumOutcome::UnknownBootCode);
    report.computed = computeChecksum(image.data(), *report.used);
    return finish(ChecksumOutcome::Checked);
}

namespace {

// The eight header bytes of `checksum`, in the file's own order.
std::string storedBytes(const HeaderChecksum &checksum, ByteOrder order) {
    std::string bytes;
    for (const std::uint32_t crc : {checksum.crc1, checksum.crc2}) {
        for (const std::uint8_t byte : bigEndianBytes(crc))
            bytes += char(byte);
    }
    reorderBytes(bytes.data(), std::int64_t(bytes.size()), ByteOrder::Cartridge, order);
    return bytes;
}

} // namespace

ChecksumFix fixChecksum(const std::filesystem::path &imagePath, std::optional<BootCode> given) {
    ChecksumFix fix;
    const FileLock lock(imagePath);
    if (lock.outcome() == FileLock::Outcome::Busy) {
        fix.outcome = ChecksumFixOutcome::Busy;
        return fix;
    }
    if (lock.outcome() == FileLock::Outcome::Locked && !lock.heldBefore())
        settleLeftoversOf(imagePath);
    fix.report = checkChecksum(imagePath, given);
    if (fix.report.outcome != ChecksumOutcome::Checked)
        return fix;
    if (fix.report.valid()) {
        fix.outcome = ChecksumFixOutcome::AlreadyValid;
        return fix;
    }
    const std::string written = storedBytes(fix.report.computed, fix.report.order);
    const WriteStatus status =
        replaceBytes(imagePath, kCrc1Offset, written, KeepUnchanged{imagePath, lock.identity()});
    fix.systemError = status.systemError;
    fix.folderFlushError = status.folderFlushError;
    switch (status.outcome) {
    case WriteStatus::Written:
        fix.outcome = ChecksumFixOutcome::Written;
        return fix;
    case WriteStatus::Changed:
        fix.outcome = ChecksumFixOutcome::Changed;
        return fix;
    case WriteStatus::Failed:
        break;
    }
    // Say what the header holds now, not what it should.
    FileReader file;
    std::string now(written.size(), '\0');
    const bool read =
        file.open(imagePath) &&
        file.readAt(kCrc1Offset, now.data(), std::int64_t(now.size())) == std::int64_t(now.size());
    fix.outcome = !read ? ChecksumFixOutcome::LeftUnknown
                  : now == storedBytes(fix.report.stored, fix.report.order)
                      ? ChecksumFixOutcome::WriteFailed
                  : now == written ? ChecksumFixOutcome::LeftUnsure
                                   : ChecksumFixOutcome::LeftUnknown;
    return fix;
}

std::string checksumText(const HeaderChecksum &checksum) {
    return crcText(bigEndianBytes(checksum.crc1), bigEndianBytes(checksum.crc2));
}

} // namespace tarnic
