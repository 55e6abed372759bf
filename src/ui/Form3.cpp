#include "Form3.h"

#include "Geometry.h"
#include "MessageBoxes.h"
#include "ProgramIcon.h"

#include <QLabel>
#include <QPainter>

namespace tarnic {

namespace {

QLabel *pictureLabel(QWidget *parent, const char *name, const QString &text, QRect where,
                     const QFont &font, QColor colour) {
    auto *label = placed<QLabel>(parent, name, where, text);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    setColours(label, {{QPalette::WindowText, colour}});
    return label;
}

} // namespace

Form3::Form3(QWidget *parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      picture_(QStringLiteral(":/tarnic/splash.jpg")) {
    setObjectName(QStringLiteral("Form3"));
    // A title bar with no text. An empty title would show the program's name.
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(programIcon());
    setFixedSize(twipsToPixels(4680), twipsToPixels(3195));
    setAttribute(Qt::WA_DeleteOnClose);
    centreOnScreen(this);

    const QFont greetingFont = font();
    Label1 =
        pictureLabel(this, "Label1", QString::fromLatin1(kProgramTitle), twips(480, 720, 2595, 435),
                     designFont(QStringLiteral("Verdana"), 18, true), QColor(255, 0, 0));
    Label2 =
        pictureLabel(this, "Label2", QStringLiteral("Tarnic Team"), twips(1080, 1320, 2430, 345),
                     designFont(QStringLiteral("Tahoma"), 14.25, true, true), Qt::white);
    Label3 =
        pictureLabel(this, "Label3", QStringLiteral("Thanks to:"), twips(120, 2040, 1395, 195),
                     designFont(QStringLiteral("MS Sans Serif"), 8.25, true), QColor(255, 255, 0));
    const QColor lightRed(255, 128, 128);
    Label4 = pictureLabel(this, "Label4", QStringLiteral("everyone who dumps their own carts"),
                          twips(240, 2280, 4200, 195), greetingFont, lightRed);
    Label6 = pictureLabel(this, "Label6", QStringLiteral("the translators and hackers"),
                          twips(360, 2520, 4200, 195), greetingFont, lightRed);
    Label5 = pictureLabel(this, "Label5", QStringLiteral("and the testers"),
                          twips(480, 2760, 4080, 195), greetingFont, lightRed);
}

void Form3::paintEvent(QPaintEvent *) {
    // Drawn unscaled: the window shows the picture's upper-left part.
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

} // namespace tarnic
