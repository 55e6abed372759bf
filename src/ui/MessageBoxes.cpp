#include "MessageBoxes.h"

#include <QMessageBox>

namespace tarnic {

void QtMessageBoxes::showMessage(const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle), text, QMessageBox::Ok);
    box.exec();
}

bool QtMessageBoxes::askYesNo(const QString &text, const QString &title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

} // namespace tarnic
