#include "BrowseDialog.h"

#include <QDir>
#include <QFileDialog>

namespace tarnic {

std::optional<QString> QtFolderPicker::pickFolder(QWidget *parent, const QString &prompt,
                                                  const QString &startFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(parent, prompt, startFolder);
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
}

bool BrowseDialog::ShowDialog() {
    const std::optional<QString> chosen = picker_.pickFolder(parent_, prompt_, StartFolder);
    selected_ = chosen.value_or(StartFolder);
    return chosen.has_value();
}

} // namespace tarnic
