#include "qt/EngineText.h"

#include "qt/PathText.h"

#include <QByteArray>

namespace tarnic {

QString fromEngine(std::string_view text) {
    return nameText(QByteArray(text.data(), qsizetype(text.size())));
}

std::string toEngine(const QString &text) {
    return pathOf(text).native();
}

} // namespace tarnic
