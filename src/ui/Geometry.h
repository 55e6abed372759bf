#pragma once
// Window layouts are designed in twips: 15 twips make one pixel at 96 dots per
// inch. Fonts the system lacks fall back to the nearest sans-serif face.

#include <QFont>
#include <QPalette>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <QString>
#include <QStringList>
#include <initializer_list>
#include <utility>

namespace tarnic {

constexpr int twipsToPixels(int twips) {
    return twips / 15;
}

constexpr QRect twips(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// A new child widget of `parent`, named and placed; `arguments` go before the
// parent in the widget's constructor.
template <typename Widget, typename... Arguments>
Widget *placed(QWidget *parent, const char *objectName, QRect where, Arguments &&...arguments) {
    auto *widget = new Widget(std::forward<Arguments>(arguments)..., parent);
    widget->setObjectName(QLatin1String(objectName));
    widget->setGeometry(where);
    return widget;
}

// Sets some colours of a widget's palette.
inline void setColours(QWidget *widget,
                       std::initializer_list<std::pair<QPalette::ColorRole, QColor>> colours) {
    QPalette palette = widget->palette();
    for (const auto &[role, colour] : colours)
        palette.setColor(role, colour);
    widget->setPalette(palette);
}

// Places a top-level window in the middle of its screen.
inline void centreOnScreen(QWidget *window) {
    if (const QScreen *screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

inline QFont designFont(const QString &family, qreal pointSize, bool bold, bool italic = false) {
    // The designed faces are narrow; fall back to faces of about their width.
    QFont font;
    font.setFamilies({family, QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans Condensed")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace tarnic
