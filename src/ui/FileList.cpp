#include "FileList.h"

#include <QDir>
#include <QMouseEvent>

namespace tarnic {

FileList::FileList(const QString &patterns, QWidget *parent)
    : QListWidget(parent), patterns_(patterns.split(u';', Qt::SkipEmptyParts)) {
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!relisting_ && row >= 0)
            emit entryClicked();
    });
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
    const QListWidgetItem *item = currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

bool FileList::clickEntry(const QString &name) {
    const QList<QListWidgetItem *> found = findItems(name, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    if (currentItem() == found.first())
        emit entryClicked();
    else
        setCurrentItem(found.first());
    return true;
}

void FileList::mousePressEvent(QMouseEvent *event) {
    QListWidgetItem *before = currentItem();
    QListWidget::mousePressEvent(event);
    // A click on the entry already selected changes nothing, so report it here.
    if (before && currentItem() == before && itemAt(event->position().toPoint()) == before)
        emit entryClicked();
}

} // namespace tarnic
