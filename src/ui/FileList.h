#pragma once
// A list of the file names in one folder that match any of a ";"-separated set
// of wildcard patterns, compared without regard to letter case. Selecting an
// entry by mouse or keyboard, or clicking the selected entry again, emits
// entryClicked(); changing the folder or re-listing never does.

#include <QListWidget>
#include <QStringList>

namespace tarnic {

class FileList : public QListWidget {
    Q_OBJECT
  public:
    FileList(const QString &patterns, QWidget *parent = nullptr);

    // The folder as it was given, trailing separator or not. Setting it re-lists.
    QString folder() const { return folder_; }
    void setFolder(const QString &folder);

    // Lists the folder's current matching files again. The selected entry stays
    // selected while its file is still there; no click is reported.
    void refresh();

    // The selected file's name (no folder), or empty when none is selected.
    QString selectedName() const;

    // Selects the entry named `name` as a user would, emitting entryClicked().
    bool clickEntry(const QString &name);

  signals:
    void entryClicked();

  protected:
    void mousePressEvent(QMouseEvent *event) override;

  private:
    void relist(const QString &keepSelected);

    QStringList patterns_;
    QString folder_;
    bool relisting_ = false;
};

} // namespace tarnic
