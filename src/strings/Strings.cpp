#include "strings/Strings.h"

#include <algorithm>

namespace tarnic {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char &c : result) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return result;
}

std::string hexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        text += kDigits[std::uint8_t(byte) >> 4];
        text += kDigits[std::uint8_t(byte) & 0xF];
    }
    return text;
}

std::optional<std::string> bytesOfHex(std::string_view digits) {
    if (digits.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = hexValue(digits[i]);
        const int low = hexValue(digits[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high << 4 | low);
    }
    return bytes;
}

namespace {
constexpr std::string_view kBase64Digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
} // namespace

std::string base64(std::string_view bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            group |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            group |= std::uint8_t(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            text += i + k <= bytes.size() ? kBase64Digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

std::optional<std::string> fromBase64(std::string_view text) {
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const size_t digit = kBase64Digits.find(c);
        if (digit == std::string_view::npos)
            return std::nullopt;
        bits = (bits << 6) | std::uint32_t(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += char((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

std::string upperHex(std::uint64_t value, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return padLeft(text, width, '0');
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = std::uint8_t(byte);
        if (code < 0x80) {
            text += byte;
        } else {
            text += char(0xC0 | code >> 6);
            text += char(0x80 | (code & 0x3F));
        }
    }
    return text;
}

std::optional<std::string> utf8ToLatin1(std::string_view text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto code = std::uint8_t(text[i]);
        if (code < 0x80) {
            bytes += char(code);
        } else if ((code == 0xC2 || code == 0xC3) && i + 1 < text.size() &&
                   (std::uint8_t(text[i + 1]) & 0xC0) == 0x80) {
            bytes += char((code & 0x03) << 6 | (std::uint8_t(text[i + 1]) & 0x3F));
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

bool isUtf8Text(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = std::uint8_t(bytes[i]);
        if (lead < 0x80) {
            if ((lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') || lead == 0x7F)
                return false;
            ++i;
            continue;
        }
        const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                           : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                          : 0;
        if (length == 0 || i + size_t(length) > bytes.size())
            return false;
        char32_t code = lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = std::uint8_t(bytes[i + size_t(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        const char32_t lowest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += size_t(length);
    }
    return true;
}

std::size_t characterCount(std::string_view text) {
    return size_t(std::count_if(text.begin(), text.end(),
                                [](char c) { return (std::uint8_t(c) & 0xC0) != 0x80; }));
}

std::string padRight(std::string_view text, int width) {
    std::string result(text);
    const size_t count = characterCount(text);
    if (width > 0 && count < size_t(width))
        result.append(size_t(width) - count, ' ');
    return result;
}

std::string padLeft(std::string_view text, int width, char fill) {
    const size_t count = characterCount(text);
    std::string result;
    if (width > 0 && count < size_t(width))
        result.assign(size_t(width) - count, fill);
    return result + std::string(text);
}

} // namespace tarnic
