#pragma once
// Texts between the engine and Qt. The engine's texts are UTF-8, save the
// names of files in them, which are the system's bytes; both come across
// losslessly (qt/PathText.h), so that a name shown can be used again.

#include <QString>

#include <string>
#include <string_view>

namespace tarnic {

// The text of the engine's `text`.
QString fromEngine(std::string_view text);
// The engine's text for `text`: UTF-8, with the bytes fromEngine() kept.
std::string toEngine(const QString &text);

} // namespace tarnic
