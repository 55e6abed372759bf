#include "Form4.h"

#include "Geometry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QWindow>

#include <chrono>

namespace tarnic {

namespace {
// A thin border, no close, minimise or maximise button; a title bar only once
// a caption is set.
constexpr Qt::WindowFlags kWithoutTitle = Qt::Dialog | Qt::CustomizeWindowHint;
constexpr auto kLongestWaitForTheWindow = std::chrono::milliseconds(1000);
} // namespace

Form4::Form4(QWidget *over) : QDialog(over, kWithoutTitle), over_(over) {
    setObjectName(QStringLiteral("Form4"));
    setFixedSize(twipsToPixels(3090), twipsToPixels(1125));
    // While it is up, the windows behind it take no input.
    setWindowModality(Qt::ApplicationModal);
    Label1 = placed<QLabel>(this, "Label1", twips(120, 240, 2775, 615));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setFont(designFont(QStringLiteral("Tahoma"), 12, true));
}

void Form4::setTexts(const QString &caption, const QString &text) {
    setWindowFlags(caption.isEmpty() ? kWithoutTitle : kWithoutTitle | Qt::WindowTitleHint);
    setWindowTitle(caption);
    Label1->setText(text);
}

void Form4::showAndPaint() {
    if (over_)
        move(over_->geometry().center() - rect().center());
    show();
    // The window system maps the window in its own time (a window manager
    // first frames it); the work that follows lets no events in, so wait here
    // until the window can be seen, then paint it.
    QElapsedTimer waited;
    waited.start();
    while (!(windowHandle() && windowHandle()->isExposed()) &&
           waited.elapsed() < kLongestWaitForTheWindow.count())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Form4::closeWindow() {
    // Clicks and keys made during the work reach the windows now, while this
    // window still blocks them, and are dropped.
    if (isVisible())
        QCoreApplication::processEvents();
    hide();
}

} // namespace tarnic
