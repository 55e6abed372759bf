#include "FileList.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

namespace tarnic {

FileList::FileList(const QString &patterns, QWidget *parent)
    : QListWidget(parent), patterns_(patterns.split(u';', Qt::SkipEmptyParts)) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!relisting_ && !selectedItems().isEmpty())
            reportClick();
    });
}

void FileList::reportClick() {
    // Once the mouse or key event is fully handled: a handler that shows a
    // message box must not run in the middle of the list's own input handling.
    QTimer::singleShot(0, this, &FileList::entryClicked);
}

void FileList::setFolder(const QString &folder) {
    folder_ = folder;
    relist(QString());
}

void FileList::refresh() {
    relist(selectedName());
}

void FileList::relist(const QString &keepSelected) {
    relisting_ = true;
    clear();
    // Without QDir::CaseSensitive the patterns match whatever the letter case.
    QDir dir(folder_);
    addItems(dir.entryList(patterns_, QDir::Files, QDir::Name | QDir::IgnoreCase));
    const QList<QListWidgetItem *> kept = keepSelected.isEmpty()
                                              ? QList<QListWidgetItem *>()
                                              : findItems(keepSelected, Qt::MatchExactly);
    if (kept.isEmpty())
        setCurrentRow(-1);
    else
        setCurrentItem(kept.first());
    relisting_ = false;
}

QString FileList::selectedName() const {
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void FileList::mousePressEvent(QMouseEvent *event) {
    QListWidgetItem *pressed = itemAt(event->position().toPoint());
    if (!pressed) {
        event->accept(); // the empty area below the entries: nothing changes
        return;
    }
    const bool alreadySelected = pressed->isSelected();
    QListWidget::mousePressEvent(event);
    // Pressing the selected entry changes no selection, so report it here.
    if (alreadySelected && event->button() == Qt::LeftButton && pressed->isSelected())
        reportClick();
}

void FileList::keyPressEvent(QKeyEvent *event) {
    // The focus makes the first entry current without selecting it; the first
    // move then selects that entry rather than the one after it.
    const int key = event->key();
    if (selectedItems().isEmpty() && count() > 0 &&
        (key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_Home)) {
        setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags FileList::selectionCommand(const QModelIndex &index,
                                                               const QEvent *event) const {
    // One entry is always selected once chosen: no toggling or clearing by
    // Ctrl, Space or a press beside the entries.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    if (event && event->type() == QEvent::FocusIn)
        return QItemSelectionModel::NoUpdate;
    return QListWidget::selectionCommand(index, event) == QItemSelectionModel::NoUpdate
               ? QItemSelectionModel::NoUpdate
               : QItemSelectionModel::ClearAndSelect;
}

} // namespace tarnic
