#include "FileList.h"

#include "qt/PathText.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace tarnic {

FileList::FileList(const QString &patterns, QWidget *parent) : QListWidget(parent) {
    for (const QString &pattern : patterns.split(u';', Qt::SkipEmptyParts))
        wildcards_ << QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                         QRegularExpression::CaseInsensitiveOption);
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

bool FileList::matches(const std::filesystem::path &fileName) const {
    // Matched against the name as valid text: the bytes kept as unpaired
    // surrogates (qt/PathText.h) are not text a pattern can match.
    const QString shown = QString::fromStdString(fileName.native());
    return std::any_of(wildcards_.begin(), wildcards_.end(),
                       [&](const QRegularExpression &w) { return w.match(shown).hasMatch(); });
}

QStringList FileList::matchingFiles() const {
    // Names are read as the system keeps them and shown as text that turns
    // back into exactly those bytes (qt/PathText.h): a name that is not
    // UTF-8 names its own file, not one whose name reads the same. Hidden
    // files are left out; links to files are listed.
    QStringList names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(pathOf(folder_), error)) {
        const std::filesystem::path name = entry.path().filename();
        if (!name.native().starts_with('.') && entry.is_regular_file(error) && matches(name))
            names << nameText(name);
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

void FileList::relist(const QString &keepSelected) {
    relisting_ = true;
    clear();
    addItems(matchingFiles());
    const QList<QListWidgetItem *> kept = keepSelected.isEmpty()
                                              ? QList<QListWidgetItem *>()
                                              : findItems(keepSelected, Qt::MatchExactly);
    if (kept.isEmpty())
        setCurrentRow(-1);
    else
        setCurrentItem(kept.first());
    relisting_ = false;
}

bool FileList::select(const QString &name) {
    const QList<QListWidgetItem *> found = findItems(name, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    relisting_ = true;
    setCurrentItem(found.first());
    scrollToItem(found.first());
    relisting_ = false;
    return true;
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
