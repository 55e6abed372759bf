#include "qt/PathText.h"

#include <string>

namespace tarnic {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF hold the bytes 0x80..0xFF

// The length of the valid UTF-8 sequence at `at` (its code point in `code`),
// or 0 when the bytes there are not one.
int validSequence(const unsigned char *at, qsizetype left, char32_t &code) {
    const unsigned char first = at[0];
    int length;
    char32_t lowest;
    if (first < 0x80) {
        code = first;
        return 1;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2, code = first & 0x1F, lowest = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, code = first & 0x0F, lowest = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, code = first & 0x07, lowest = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (at[i] & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString nameText(const QByteArray &bytes) {
    QString text;
    text.reserve(bytes.size());
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code = 0;
        const int length = validSequence(data + i, bytes.size() - i, code);
        if (length == 0) {
            text += QChar(char16_t(kEscapeBase + data[i]));
            ++i;
            continue;
        }
        const char32_t one[] = {code};
        text += QString::fromUcs4(one, 1);
        i += length;
    }
    return text;
}

QString nameText(const std::filesystem::path &path) {
    return nameText(QByteArray::fromStdString(path.native()));
}

std::filesystem::path pathOf(const QString &text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool pairedLow = i > 0 && QChar::isHighSurrogate(text[i - 1].unicode());
        if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF && !pairedLow) {
            bytes += char(unit - kEscapeBase);
            continue;
        }
        // Everything else as UTF-8, a surrogate pair as the one character it is.
        qsizetype length = 1;
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode()))
            length = 2;
        bytes += QStringView(text).mid(i, length).toUtf8().toStdString();
        i += length - 1;
    }
    return bytes;
}

} // namespace tarnic
