#pragma once
// A list of the file names in one folder that match any of a ";"-separated set
// of wildcard patterns, compared without regard to letter case.
//
// entryClicked() is emitted once each time the user selects an entry (a press
// on it, an arrow key, Home, Space) or presses on the entry already selected,
// after the input has been handled, so that the handler finds the entry
// selected. Moving the focus into the list, pressing where there is no entry,
// changing the folder or re-listing never emits it and never clears the
// selection; the highlighted entry is always the one the handler read last.

#include <QListWidget>
#include <QRegularExpression>
#include <QStringList>

#include <filesystem>

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

    // Whether a file named `fileName` is one the list shows (its patterns).
    bool matches(const std::filesystem::path &fileName) const;

    // Selects the entry `name` (as selectedName() gives it) without
    // reporting a click; false when the folder lists no such entry.
    bool select(const QString &name);

    // The selected file's name (no folder), or empty when none is selected; a
    // name that is not UTF-8 in the text qt/PathText.h makes of it.
    QString selectedName() const;

  signals:
    void entryClicked();

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;

  private:
    void relist(const QString &keepSelected);
    QStringList matchingFiles() const;
    void reportClick();

    QList<QRegularExpression> wildcards_; // the patterns, without regard to letter case
    QString folder_;
    bool relisting_ = false;
};

} // namespace tarnic
