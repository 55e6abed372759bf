#include "TestFiles.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

namespace testfiles {

std::string littleEndian(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[size_t(i)] = char(value >> (8 * i));
    return bytes;
}

std::uint32_t zlibCrc(std::string_view bytes) {
    return std::uint32_t(
        ::crc32(0, reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size())));
}

std::string vcdiffNumber(std::uint64_t value) {
    std::string bytes(1, char(value & 0x7F));
    while (value >>= 7)
        bytes.insert(bytes.begin(), char(0x80 | (value & 0x7F)));
    return bytes;
}

std::string vcdiffHeader(std::uint8_t indicator, std::string_view rest) {
    return std::string("\xD6\xC3\xC4\0", 4) + char(indicator) + std::string(rest);
}

std::string vcdiffWindow(const VcdiffWindowFields &w) {
    std::string window(1, char(w.indicator));
    if (w.indicator & 1)
        window += vcdiffNumber(w.segmentLength) + vcdiffNumber(w.segmentPosition);
    std::string rest = vcdiffNumber(w.result.size()) + char(w.compressed) +
                       vcdiffNumber(w.data.size()) + vcdiffNumber(w.instructions.size()) +
                       vcdiffNumber(w.addresses.size());
    if (w.indicator & 4) {
        const auto adler = std::uint32_t(
            ::adler32(1, reinterpret_cast<const Bytef *>(w.result.data()), uInt(w.result.size())));
        for (int shift = 24; shift >= 0; shift -= 8)
            rest += char(adler >> shift);
    }
    rest += w.data + w.instructions + w.addresses;
    return window + vcdiffNumber(std::uint64_t(std::int64_t(rest.size()) + w.lengthError)) + rest;
}

std::string fromHex(std::string_view digits) {
    const auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += char(value(digits[i]) << 4 | value(digits[i + 1]));
    return bytes;
}

std::string padded(std::string_view text, std::size_t width) {
    std::string result(text);
    if (result.size() < width)
        result.append(width - result.size(), ' ');
    return result;
}

std::string apsHeader(const ApsFields &f) {
    std::string h = f.magic;
    h += char(f.type);
    h += char(f.encoding);
    h += f.description;
    h += char(f.target);
    h += f.cartId;
    h += char(f.country);
    h += f.crc1;
    h += f.crc2;
    h += std::string(5, '\0'); // reserved
    h += littleEndian(f.imageSize);
    return h;
}

std::string simpleApsHeader(std::string_view description, std::uint32_t imageSize) {
    return std::string("APS10") + '\0' + '\0' + padded(description, 50) + littleEndian(imageSize);
}

std::string copyRecord(std::int32_t offset, std::string_view data) {
    return littleEndian(std::uint32_t(offset)) + char(data.size()) + std::string(data);
}

std::string runRecord(std::int32_t offset, std::uint8_t value, std::uint8_t count) {
    return littleEndian(std::uint32_t(offset)) + '\0' + char(value) + char(count);
}

std::string cartridgeImage(std::size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    image.replace(0, 4, fromHex("80371240"));
    image.replace(0x10, 8, fromHex("0AB1007FFF100233"));
    image.replace(0x20, 20, "TARNIC TEST IMAGE   ");
    image.replace(0x3C, 4, std::string("ABE\0", 4));
    return image;
}

std::string bpsNumber(std::uint64_t value) {
    std::string bytes;
    while (value >= 0x80) {
        bytes += char(value & 0x7F);
        value = (value >> 7) - 1;
    }
    return bytes + char(value | 0x80);
}

std::string bpsAction(int command, std::uint64_t length) {
    return bpsNumber(((length - 1) << 2) | std::uint64_t(command));
}

std::string bpsMove(std::int64_t delta) {
    return bpsNumber(std::uint64_t(delta < 0 ? -delta : delta) << 1 | (delta < 0 ? 1 : 0));
}

std::string withBpsPatchCrc(std::string patch) {
    patch.resize(patch.size() - 4);
    return patch + littleEndian(zlibCrc(patch));
}

std::string bpsPatch(std::string_view source, std::string_view target, std::string_view actions,
                     std::string_view metadata) {
    const std::string patch = "BPS1" + bpsNumber(source.size()) + bpsNumber(target.size()) +
                              bpsNumber(metadata.size()) + std::string(metadata) +
                              std::string(actions) + littleEndian(zlibCrc(source)) +
                              littleEndian(zlibCrc(target));
    return withBpsPatchCrc(patch + "CRC!");
}

std::string upsPatch(std::string_view input, std::string_view output, std::string_view hunks) {
    const std::string patch = "UPS1" + bpsNumber(input.size()) + bpsNumber(output.size()) +
                              std::string(hunks) + littleEndian(zlibCrc(input)) +
                              littleEndian(zlibCrc(output));
    return withBpsPatchCrc(patch + "CRC!");
}

std::string upsXor(std::string_view from, std::string_view to) {
    std::string bytes;
    for (size_t i = 0; i < to.size(); ++i)
        bytes += char((i < from.size() ? from[i] : 0) ^ to[i]);
    return bytes + '\0';
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &b : bytes)
        b = char(random());
    return bytes;
}

std::string byteSwapped(std::string bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

std::string wordsReversed(std::string bytes) {
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        std::reverse(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + 4));
    return bytes;
}

std::string inOrder(const std::string &bytes, tarnic::ByteOrder order) {
    return order == tarnic::ByteOrder::ByteSwapped    ? byteSwapped(bytes)
           : order == tarnic::ByteOrder::LittleEndian ? wordsReversed(bytes)
                                                      : bytes;
}

void writeFile(const std::filesystem::path &path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file.write(bytes.data(), std::streamsize(bytes.size()))) << path;
}

std::string readFile(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "<missing>";
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

void makeReadOnly(const std::filesystem::path &path) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnic-test-XXXXXX").native();
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    if (!path_.empty()) {
        // A test may leave a file or folder read-only.
        for (const auto &entry : std::filesystem::recursive_directory_iterator(path_, error))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(path_, error);
    }
}

std::vector<std::string> fileNames(const std::filesystem::path &folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error))
            names.push_back(entry.path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char byte : bytes)
        text += std::string{kDigits[std::uint8_t(byte) >> 4], kDigits[std::uint8_t(byte) & 0xF]};
    return text;
}

std::filesystem::path fileWith(const TempDir &dir, std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

} // namespace testfiles
