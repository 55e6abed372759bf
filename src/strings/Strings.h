#pragma once
// Small text forms in plain C++: the engine's texts are UTF-8 (names of files
// as the system spells them, which may be any bytes), its byte buffers
// std::string.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnic {

// Without the spaces, tabs and line ends at either end.
std::string trimmed(std::string_view text);
// ASCII letters in lower case, everything else as it is.
std::string lowered(std::string_view text);
// Bytes as lowercase hexadecimal digits, two per byte.
std::string hexOf(std::string_view bytes);
// The bytes that hexadecimal digits spell; none for anything else.
std::optional<std::string> bytesOfHex(std::string_view digits);
// Bytes as Base64 (RFC 4648, with "=" padding), and back; none for text
// that is not Base64.
std::string base64(std::string_view bytes);
std::optional<std::string> fromBase64(std::string_view text);
// A number as uppercase hexadecimal digits, at least `width` of them.
std::string upperHex(std::uint64_t value, int width = 0);
// Bytes that are Latin-1 text (one character a byte, as cartridge names and
// patch descriptions are written) in UTF-8.
std::string latin1ToUtf8(std::string_view bytes);
// The Latin-1 bytes of a UTF-8 text; none when a character is not in Latin-1
// or the text is not UTF-8.
std::optional<std::string> utf8ToLatin1(std::string_view text);
// Whether `bytes` are text: valid UTF-8 with no control characters but tabs
// and line ends.
bool isUtf8Text(std::string_view bytes);
// How many characters a UTF-8 text has (its bytes that start one).
std::size_t characterCount(std::string_view text);
// `text` followed by spaces up to `width` characters.
std::string padRight(std::string_view text, int width);
// `text` preceded by `fill` up to `width` characters.
std::string padLeft(std::string_view text, int width, char fill = ' ');
// Whether `text` ends with `tail`.
inline bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace tarnic
