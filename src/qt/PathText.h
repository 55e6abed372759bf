#pragma once
// File names between the system and the program's texts. On Linux a name is
// any bytes; it is usually UTF-8, but need not be, and Qt's own conversion
// turns the bytes that are not into replacement characters, which name
// another file. These two conversions lose nothing: a byte that is not part
// of valid UTF-8 becomes an unpaired surrogate (U+DC80 to U+DCFF), which no
// valid text holds, and back. Shown, such a character appears as a
// replacement character.

#include <QByteArray>
#include <QString>

#include <filesystem>

namespace tarnic {

// The text of a name's bytes: UTF-8 decoded, every other byte kept.
QString nameText(const QByteArray &bytes);
QString nameText(const std::filesystem::path &path);
// The name a text spells: the exact bytes nameText() read it from; UTF-8 for
// any other text (a name typed or picked in the window).
std::filesystem::path pathOf(const QString &text);

} // namespace tarnic
