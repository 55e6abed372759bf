#include "Form2.h"

#include "Geometry.h"
#include "ProgramIcon.h"
#include "startup/Settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>

namespace tarnic {

namespace {

QLabel *settingsLabel(QWidget *parent, const char *name, const QString &text, QRect where) {
    auto *label = placed<QLabel>(parent, name, where, text);
    label->setFont(designFont(QStringLiteral("Tahoma"), 8.25, true));
    return label;
}

} // namespace

Form2::Form2(tarnic::Settings &settings, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      settings_(settings) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Tarnic - Settings"));
    setWindowIcon(programIcon());
    setFixedSize(twipsToPixels(4590), twipsToPixels(3135));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);

    Settings_ = placed<QGroupBox>(this, "Settings", twips(0, 0, 4575, 3135),
                                  QStringLiteral("Tarnic Settings"));
    Settings_->setFont(designFont(QStringLiteral("Tahoma"), 9, true));

    Label2 = settingsLabel(Settings_, "Label2", QStringLiteral("Show Splash Screen"),
                           twips(240, 720, 1680, 195));
    SplashScreen = placed<QCheckBox>(Settings_, "SplashScreen", twips(2280, 720, 255, 255));
    Label3 = settingsLabel(Settings_, "Label3", QStringLiteral("Create Rom Backups"),
                           twips(240, 1680, 1755, 195));
    RomBackUpClk = placed<QCheckBox>(Settings_, "RomBackUpClk", twips(2280, 1680, 255, 255));
    Label1 = settingsLabel(Settings_, "Label1", QStringLiteral("(After APS Patch)"),
                           twips(360, 1920, 1485, 195));
    SplashScreen->setAccessibleName(Label2->text());
    RomBackUpClk->setAccessibleName(Label3->text() + u' ' + Label1->text());
    setTabOrder(SplashScreen, RomBackUpClk);

    // clicked() comes from the user only; setting a box from the program
    // leaves its option alone.
    connect(RomBackUpClk, &QCheckBox::clicked, this, &Form2::RomBackUpClk_Click);
    connect(SplashScreen, &QCheckBox::clicked, this, &Form2::SplashScreen_Click);
    Form_Load();
}

void Form2::Form_Load() {
    RomBackUpClk->setChecked(settings_.BackupOpt == kOptionOn);
    SplashScreen->setChecked(settings_.SplashOpt == kOptionOn);
}

void Form2::RomBackUpClk_Click() {
    settings_.BackupOpt = RomBackUpClk->isChecked() ? kOptionOn : kOptionOff;
}

void Form2::SplashScreen_Click() {
    settings_.SplashOpt = SplashScreen->isChecked() ? kOptionOn : kOptionOff;
}

} // namespace tarnic
