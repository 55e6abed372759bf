#pragma once
// Hands a fuzzer's input to the program the way it meets files: as a file.

#include "files/Crc32.h"
#include "patch/PatchApplication.h"
#include "patch/varint/Varint.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace fuzzing {

// The length of `bytes`, signed as the offsets it is compared with.
inline std::int64_t sizeOf(const std::string &bytes) {
    return std::int64_t(bytes.size());
}

// Bytes from `at` on, `count` of them at most; nothing past the end.
inline std::string mid(const std::string &bytes, std::int64_t at, std::int64_t count = -1) {
    if (at < 0 || std::uint64_t(at) >= bytes.size())
        return {};
    return bytes.substr(size_t(at), count < 0 ? std::string::npos : size_t(count));
}

// A folder for the run, on a memory file system where there is one.
inline const std::filesystem::path &folder() {
    static const std::filesystem::path dir = [] {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::exists("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tarnic-fuzz-XXXXXX").native();
        if (!::mkdtemp(pattern.data()))
            __builtin_trap();
        return std::filesystem::path(pattern);
    }();
    return dir;
}

inline std::filesystem::path fileWith(const char *name, const std::uint8_t *data,
                                      std::size_t size) {
    const std::filesystem::path path = folder() / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(reinterpret_cast<const char *>(data), std::streamsize(size)) || !file.flush())
        __builtin_trap();
    return path;
}

inline std::string contentOf(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        __builtin_trap();
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

// A patch whose source, result and body the fuzzer chose, with the sizes,
// the CRC-32s of `source` and `result` (0 when there is none) and its own
// CRC-32 made right: `magic`, the two sizes, `extra` (BPS: the metadata size),
// the body, the footer.
inline std::string namedSourcePatch(const char *magic, const std::string &source,
                                    std::int64_t resultSize, const std::string &extra,
                                    const std::string &body,
                                    const std::optional<std::string> &result) {
    const auto le32 = [](std::uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[size_t(i)] = char(value >> (8 * i));
        return bytes;
    };
    std::string patch(magic);
    tarnic::appendVarint(patch, std::uint64_t(source.size()));
    tarnic::appendVarint(patch, std::uint64_t(resultSize));
    patch += extra + body + le32(tarnic::crc32(0, source.data(), source.size()));
    patch += le32(result ? tarnic::crc32(0, result->data(), result->size()) : 0);
    return patch + le32(tarnic::crc32(0, patch.data(), patch.size()));
}

// The source the BPS and UPS targets start from, in cartridge order.
inline std::string seedImage(int step) {
    std::string image(1024, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = char(int(i) * step + 3);
    // (the first four bytes mark cartridge order)
    return image.replace(0, 4, "\x80\x37\x12\x40");
}

// Applies `patch` to `image` with `apply`, the result written to another file,
// and traps unless the program did what the reference says: applied, giving
// `expected` (in the image's order), or refused, writing nothing; the image is
// left as it was either way.
template <typename Apply>
void checkApplication(const std::string &patch, const std::string &image,
                      const std::optional<std::string> &expected, Apply &&apply) {
    tarnic::PatchJob job;
    job.patchPath =
        fileWith("patch", reinterpret_cast<const std::uint8_t *>(patch.data()), patch.size());
    job.imagePath =
        fileWith("image.rom", reinterpret_cast<const std::uint8_t *>(image.data()), image.size());
    job.outputPath = folder() / "out.rom";
    std::filesystem::remove(job.outputPath);
    const tarnic::ApplyResult result = apply(job);
    if ((result.outcome == tarnic::ApplyOutcome::Applied) != expected.has_value())
        __builtin_trap();
    if (expected ? contentOf(job.outputPath) != *expected : std::filesystem::exists(job.outputPath))
        __builtin_trap();
    if (contentOf(job.imagePath) != image)
        __builtin_trap();
}

} // namespace fuzzing
