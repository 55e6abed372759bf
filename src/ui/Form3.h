#pragma once
// The picture window: the splash at start-up and the About window. A fixed
// tool window with an empty caption, the picture drawn unscaled from the
// top-left corner, and the program's name and credits over it.

#include <QDialog>

class QLabel;

namespace tarnic {

class Form3 final : public QDialog {
    Q_OBJECT
  public:
    explicit Form3(QWidget *parent = nullptr);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QLabel *Label1; // the program's name
    QLabel *Label2; // the author credit
    QLabel *Label3; // heading of the greetings
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QPixmap picture_;
};

} // namespace tarnic
