// Reading an xdelta patch's header and its windows' headers, and what `info`
// and the window show of it.
#include "patch/PatchFormat.h"
#include "patch/records/RecordStream.h"
#include "patch/xdelta/Secondary.h"
#include "patch/xdelta/Vcdiff.h"
#include "patch/xdelta/VcdiffNumbers.h"

#include "files/FileReader.h"
#include "strings/Strings.h"

#include <cstring>

namespace tarnic {

namespace {

enum HeaderBits : std::uint8_t { kSecondary = 1, kCodeTable = 2, kAppHeader = 4 };
enum WindowBits : std::uint8_t { kSource = 1, kTarget = 2, kAdler32 = 4 };

} // namespace

const VcdiffWindow *VcdiffInspection::provingWindow() const {
    for (const VcdiffWindow &window : windows) {
        if (window.readsSource() && window.adler32)
            return &window;
    }
    return nullptr;
}

VcdiffInspection inspectVcdiff(Reader &patch, bool allWindows) {
    VcdiffInspection result;
    const auto finish = [&](PatchRead outcome, PatchFault fault = PatchFault::None) {
        result.outcome = outcome;
        result.fault = fault;
        return result;
    };
    bool tooLong = false;
    bool readFailed = false;
    const auto byte = [&]() -> std::optional<std::uint8_t> {
        char c;
        if (patch.getChar(&c))
            return std::uint8_t(c);
        readFailed = patch.pos() < patch.size();
        return std::nullopt;
    };
    const auto number = [&] { return readVcdiffNumber(byte, tooLong); };
    // How a read that came up short ends: a failed read, a number past 64
    // bits, or the patch cut short at this point.
    const auto cut = [&](PatchRead where, PatchFault fault) {
        if (readFailed)
            return finish(PatchRead::Unreadable);
        if (tooLong)
            return finish(PatchRead::Damaged, PatchFault::NumberTooLong);
        return finish(where, fault);
    };

    char magic[4];
    if (!patch.seek(0))
        return finish(PatchRead::Unreadable);
    const std::int64_t got = patch.read(magic, 4);
    if (got < 0)
        return finish(PatchRead::Unreadable);
    if (got < 3 || std::memcmp(magic, kVcdiffMagic, 3) != 0)
        return finish(PatchRead::NotAPatch);
    if (got < 4)
        return finish(PatchRead::CutShort);
    if (magic[3] != 0)
        return finish(PatchRead::UnsupportedVersion, PatchFault::OtherVersion);
    const auto indicator = byte();
    if (!indicator)
        return cut(PatchRead::CutShort, PatchFault::None);
    if (*indicator & ~(kSecondary | kCodeTable | kAppHeader))
        return finish(PatchRead::Damaged, PatchFault::HeaderBitsUndefined);
    if (*indicator & kSecondary) {
        const auto id = byte();
        if (!id)
            return cut(PatchRead::CutShort, PatchFault::None);
        result.secondary = *id;
    }
    if (*indicator & kCodeTable)
        return finish(PatchRead::UnsupportedVersion, PatchFault::CustomCodeTable);
    if (*indicator & kAppHeader) {
        const auto length = number();
        if (!length || *length > std::uint64_t(patch.size() - patch.pos()))
            return cut(PatchRead::CutShort, PatchFault::None);
        const std::int64_t end = patch.pos() + std::int64_t(*length);
        result.appHeader = patch.read(std::min(std::int64_t(*length), kAppHeaderKept));
        if (!patch.seek(end))
            return finish(PatchRead::Unreadable);
    }
    if (result.secondary != 0 && !decodesSecondary(result.secondary))
        return finish(PatchRead::UnsupportedVersion, PatchFault::SecondaryNotDecoded);
    if (patch.atEnd())
        return finish(PatchRead::Damaged, PatchFault::NoWindows);

    while (!patch.atEnd()) {
        if (result.windows.size() == kMostWindows)
            return finish(PatchRead::Damaged, PatchFault::TooManyWindows);
        VcdiffWindow w;
        const auto broken = [&](PatchFault fault) { return cut(PatchRead::Damaged, fault); };
        const std::optional<std::uint8_t> windowIndicator = byte();
        if (!windowIndicator)
            return finish(PatchRead::Unreadable);
        w.indicator = *windowIndicator;
        if (w.indicator & ~(kSource | kTarget | kAdler32) ||
            (w.indicator & (kSource | kTarget)) == (kSource | kTarget))
            return finish(PatchRead::Damaged, PatchFault::WindowBroken);
        if (w.indicator & kTarget)
            return finish(PatchRead::UnsupportedVersion, PatchFault::TargetSegment);
        if (w.readsSource()) {
            const auto length = number();
            const auto position = length ? number() : std::nullopt;
            if (!position)
                return broken(PatchFault::EndsInsideWindow);
            if (*length > kLargestResult || *position > kLargestResult)
                return finish(PatchRead::Damaged, PatchFault::SegmentPastImage);
            w.segmentLength = *length;
            w.segmentPosition = *position;
        }
        const auto deltaLength = number();
        const std::int64_t deltaStart = patch.pos();
        const auto length = deltaLength ? number() : std::nullopt;
        const auto compressed = length ? byte() : std::nullopt;
        std::optional<std::uint64_t> sections[3];
        for (int i = 0; i < 3 && (i == 0 ? compressed.has_value() : sections[i - 1].has_value());
             ++i)
            sections[i] = number();
        if (!sections[2])
            return broken(PatchFault::EndsInsideWindow);
        if (w.indicator & kAdler32) {
            unsigned char sum[4];
            if (patch.read(reinterpret_cast<char *>(sum), 4) != 4)
                return broken(PatchFault::EndsInsideWindow);
            w.adler32 = std::uint32_t(sum[0]) << 24 | std::uint32_t(sum[1]) << 16 |
                        std::uint32_t(sum[2]) << 8 | sum[3];
        }
        if (*length > kLargestWindow)
            return finish(PatchRead::Damaged, PatchFault::WindowTooLarge);
        w.length = *length;
        w.compressed = *compressed;
        if ((w.compressed & ~7) || (w.compressed && result.secondary == 0))
            return finish(PatchRead::Damaged, PatchFault::WindowBroken);
        std::uint64_t stored = std::uint64_t(patch.pos() - deltaStart);
        for (int i = 0; i < 3; ++i) {
            if (*sections[i] > kLargestResult)
                return finish(PatchRead::Damaged, PatchFault::WindowBroken);
            w.sectionLength[i] = *sections[i];
            stored += *sections[i];
        }
        // xdelta's own rule: the length given is exactly that of the rest.
        if (stored != *deltaLength)
            return finish(PatchRead::Damaged, PatchFault::WindowBroken);
        w.sectionsAt = patch.pos();
        const std::uint64_t sectionBytes = stored - std::uint64_t(patch.pos() - deltaStart);
        if (sectionBytes > std::uint64_t(patch.size() - patch.pos()))
            return finish(PatchRead::Damaged, PatchFault::EndsInsideWindow);
        w.resultOffset = result.resultSize;
        result.resultSize += w.length;
        result.windows.push_back(w);
        if (!allWindows)
            return finish(PatchRead::Readable);
        if (!patch.seek(w.sectionsAt + std::int64_t(sectionBytes)))
            return finish(PatchRead::Unreadable);
    }
    result.allWindows = true;
    return finish(PatchRead::Readable);
}

namespace {

// A name xdelta stored, without the "#" and digest xdelta 3.2 may add.
std::string storedName(std::string_view name) {
    return std::string(name.substr(0, name.find('#')));
}

struct AppHeaderText {
    std::string description;
    std::vector<SummaryLine> lines;
    std::vector<SummaryField> fields;
};

// What the application header says: xdelta's "target/tcomp/source/scomp" (or
// "target/tcomp"), a description in base64 after "^*", or any other text.
AppHeaderText readAppHeader(const std::string &header) {
    AppHeaderText text;
    if (header.empty())
        return text;
    if (header.starts_with("^*")) {
        const std::optional<std::string> decoded = fromBase64(header.substr(2));
        if (decoded && isUtf8Text(*decoded)) {
            text.description = *decoded;
            text.lines = {{"Description", *decoded}};
            text.fields = {{"description", *decoded}};
            return text;
        }
    }
    if (!isUtf8Text(header)) {
        text.description = hexOf(header);
        text.lines = {{"Application header (hex)", text.description}};
        text.fields = {{"appHeaderHex", text.description}};
        return text;
    }
    std::vector<std::string_view> parts;
    for (std::string_view rest = header;;) {
        const size_t slash = rest.find('/');
        parts.push_back(rest.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    text.fields = {{"appHeader", header}};
    if (parts.size() == 4 || parts.size() == 2) {
        const std::string target = storedName(parts[0]);
        text.lines.push_back({"Target file", target});
        text.fields.push_back({"targetName", target});
        text.description = target;
        if (parts.size() == 4) {
            const std::string source = storedName(parts[2]);
            text.lines.push_back({"Source file", source});
            text.fields.push_back({"sourceName", source});
            text.description += " (from " + source + ")";
        }
        return text;
    }
    text.description = header;
    text.lines = {{"Application header", header}};
    return text;
}

} // namespace

PatchSummary summarizeXdelta(const std::filesystem::path &patchPath, ReadDepth) {
    PatchSummary summary;
    summary.format = PatchFormat::Vcdiff;
    summary.kind = "xdelta-patch";
    summary.heading = "xdelta patch (VCDIFF)";
    FileReader patch;
    if (!patch.open(patchPath))
        return summary;
    // Every window's header is read, at every depth; their sections are
    // stepped over.
    const VcdiffInspection vc = inspectVcdiff(patch, true);
    summary.read = vc.outcome;
    summary.fault = vc.fault;
    if (!summary.readable())
        return summary;
    // Each window's Adler-32 checks what the patch makes of the image; the
    // first that reads the image proves it the source, in whichever byte
    // order. Without one, nothing is checked.
    const VcdiffWindow *proving = vc.provingWindow();
    const bool checked =
        proving || (vc.allWindows && !vc.windows.empty() &&
                    std::all_of(vc.windows.begin(), vc.windows.end(), [](const VcdiffWindow &w) {
                        return !w.readsSource() && w.adler32;
                    }));
    summary.checks = checked ? PatchChecks::ResultChecksums : PatchChecks::Nothing;
    summary.namesByteOrder = checked;
    const AppHeaderText app = readAppHeader(vc.appHeader);
    summary.description = app.description;
    summary.lines = app.lines;
    summary.fields = app.fields;
    const std::string compression =
        vc.secondary == 0 ? std::string("none") : std::string(secondaryName(vc.secondary));
    summary.lines.push_back({"Secondary compression", compression});
    summary.fields.push_back({"secondaryCompression", compression});
    const bool adler = std::any_of(vc.windows.begin(), vc.windows.end(),
                                   [](const VcdiffWindow &w) { return w.adler32.has_value(); });
    summary.lines.push_back({"Window checksums", adler ? "Adler-32" : "none"});
    summary.fields.push_back({"windowChecksums", adler});
    if (vc.allWindows) {
        summary.lines.push_back({"Windows", std::to_string(vc.windows.size())});
        summary.lines.push_back({"Target", std::to_string(vc.resultSize) + " bytes"});
        summary.fields.push_back({"windows", std::uint64_t(vc.windows.size())});
        summary.fields.push_back({"targetSize", vc.resultSize});
    }
    return summary;
}

} // namespace tarnic
