#include "Form4.h"

#include "Geometry.h"

#include <QApplication>
#include <QLabel>

namespace tarnic {

namespace {
constexpr Qt::WindowFlags kWithoutTitle = Qt::Dialog | Qt::CustomizeWindowHint;
}

Form4::Form4(QWidget *over) : QDialog(over, kWithoutTitle), over_(over) {
    setObjectName(QStringLiteral("Form4"));
    setFixedSize(twipsToPixels(3090), twipsToPixels(1125));
    Label1 = placed<QLabel>(this, "Label1", twips(120, 240, 2775, 615));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setFont(designFont(QStringLiteral("Tahoma"), 12, true));
}

void Form4::setTexts(const QString &caption, const QString &text) {
    setWindowTitle(caption);
    setWindowFlags(caption.isEmpty() ? kWithoutTitle : kWithoutTitle | Qt::WindowTitleHint);
    Label1->setText(text);
}

void Form4::showAndPaint() {
    if (over_)
        move(over_->geometry().center() - rect().center());
    show();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Form4::closeWindow() {
    hide();
}

} // namespace tarnic
