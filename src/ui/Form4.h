#pragma once
// The busy window shown while a patch is applied or an image converted.

#include <QDialog>

class QLabel;

namespace tarnic {

// What the operations need of a busy window; tests record it.
class BusyWindow {
  public:
    virtual ~BusyWindow() = default;
    // Sets the caption and the text; the window is not shown yet.
    virtual void setTexts(const QString &caption, const QString &text) = 0;
    // Shows the window without waiting and paints it at once.
    virtual void showAndPaint() = 0;
    // Closes the window; harmless when it was never shown.
    virtual void closeWindow() = 0;
};

// A plain box with a thin border and no title bar until a caption is set; then
// a small title bar with that caption and still no close box. Centred over the
// window it belongs to.
class Form4 final : public QDialog, public BusyWindow {
    Q_OBJECT
  public:
    explicit Form4(QWidget *over = nullptr);

    void setTexts(const QString &caption, const QString &text) override;
    void showAndPaint() override;
    void closeWindow() override;

  private:
    QLabel *Label1;
    QWidget *over_;
};

} // namespace tarnic
