#pragma once
// Window layouts are designed in twips: 15 twips make one pixel at 96 dots per
// inch. Fonts the system lacks fall back to the nearest sans-serif face.

#include <QFont>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QStringList>
#include <QString>

namespace tarnic {

constexpr int twipsToPixels(int twips) { return twips / 15; }

constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// Places a top-level window in the middle of its screen.
inline void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

inline QFont designFont(const QString &family, qreal pointSize, bool bold, bool italic = false)
{
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
