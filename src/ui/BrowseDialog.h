#pragma once
// The folder-browse dialog of the two "Browse" buttons: a start folder, a modal
// show that reports whether the user confirmed, and the folder it holds. After
// a cancel it reports the start folder, so a list set from it stays where it was.

#include <QString>

#include <optional>

class QWidget;

namespace tarnic {

// The dialog itself, behind an interface so tests can answer it.
class FolderPicker {
  public:
    virtual ~FolderPicker() = default;
    // The confirmed folder, or nothing when the user cancelled.
    virtual std::optional<QString> pickFolder(QWidget *parent, const QString &prompt,
                                              const QString &startFolder) = 0;
};

class QtFolderPicker final : public FolderPicker {
  public:
    std::optional<QString> pickFolder(QWidget *parent, const QString &prompt,
                                      const QString &startFolder) override;
};

class BrowseDialog {
  public:
    BrowseDialog(FolderPicker &picker, QString prompt, QWidget *parent)
        : picker_(picker), prompt_(std::move(prompt)), parent_(parent) {}

    QString StartFolder;
    bool ShowDialog();
    QString SelectedFolder() const { return selected_; }
    const QString &prompt() const { return prompt_; }

  private:
    FolderPicker &picker_;
    QString prompt_;
    QWidget *parent_;
    QString selected_;
};

} // namespace tarnic
