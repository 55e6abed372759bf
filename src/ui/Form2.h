#pragma once
// The settings window: two check boxes that switch the splash and backup
// options the moment they are clicked. No OK or Cancel; closed from its title
// bar, which discards it.

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;

namespace tarnic {

struct Settings;

class Form2 final : public QDialog {
    Q_OBJECT
  public:
    explicit Form2(Settings &settings, QWidget *parent = nullptr);

  private:
    QGroupBox *Settings_;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QCheckBox *SplashScreen;
    QCheckBox *RomBackUpClk;

    // Sets both boxes from the options; never changes an option.
    void Form_Load();
    void RomBackUpClk_Click();
    void SplashScreen_Click();

    tarnic::Settings &settings_;
};

} // namespace tarnic
