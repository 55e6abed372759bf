// Writes what the desktop needs to know of the files Tarnic opens, from the one
// format table: a shared MIME-info package for the patch formats the freedesktop
// database does not define (with their globs and magic), and the desktop
// entry's MimeType list, every patch format's and the N64 image's.
//
//   tarnic_write_mime_types PACKAGE.xml DESKTOP.in DESKTOP
//
// DESKTOP.in holds the token TARNIC_MIME_TYPES where the list goes.

#include "patch/PatchFormat.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The freedesktop database's type for N64 images, in every byte order.
constexpr char kImageMimeType[] = "application/x-n64-rom";

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A magic as a match: plain text as a string, anything else byte by byte.
std::string magicMatch(std::string_view magic) {
    bool printable = true;
    for (const char c : magic)
        printable = printable && c >= 0x20 && c < 0x7F;
    if (printable)
        return "<match type=\"string\" value=\"" + xmlEscaped(magic) + "\" offset=\"0\"/>";
    std::string value;
    char hex[5];
    for (const char c : magic) {
        std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(static_cast<unsigned char>(c)));
        value += hex;
    }
    return "<match type=\"string\" value=\"" + value + "\" offset=\"0\"/>";
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fputs("usage: tarnic_write_mime_types PACKAGE.xml DESKTOP.in DESKTOP\n", stderr);
        return 2;
    }
    std::ofstream package(argv[1]);
    package << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    std::string types;
    for (const tarnic::PatchFormatInfo &info : tarnic::patchFormats()) {
        types += std::string(info.mimeType) + ';';
        if (info.sharedMimeType)
            continue;
        package << "  <mime-type type=\"" << info.mimeType << "\">\n"
                << "    <comment>" << xmlEscaped(info.name) << " patch</comment>\n";
        std::stringstream patterns(info.patterns);
        for (std::string pattern; std::getline(patterns, pattern, ';');) {
            for (char &c : pattern)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            package << "    <glob pattern=\"" << xmlEscaped(pattern) << "\"/>\n";
        }
        package << "    <magic priority=\"50\">\n      " << magicMatch(info.magic)
                << "\n    </magic>\n  </mime-type>\n";
    }
    package << "</mime-info>\n";
    types += std::string(kImageMimeType) + ';';

    std::ifstream in(argv[2]);
    std::stringstream entry;
    entry << in.rdbuf();
    std::string text = entry.str();
    const std::string token = "TARNIC_MIME_TYPES";
    const size_t at = text.find(token);
    if (!in || at == std::string::npos) {
        std::fputs("tarnic_write_mime_types: the desktop entry has no TARNIC_MIME_TYPES\n", stderr);
        return 1;
    }
    text.replace(at, token.size(), types);
    std::ofstream out(argv[3]);
    out << text;
    package.close();
    out.close();
    return package && out ? 0 : 1;
}
