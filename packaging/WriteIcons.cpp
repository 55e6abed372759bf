// Writes the program's icon at each size of the desktop's icon theme, drawn
// from the same picture as the windows' icon:
//   tarnic_write_icons FOLDER NAME
// writes FOLDER/NxN/apps/NAME.png for every installed size.

#include "ProgramIcon.h"
#include "texts/BuildInfo.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarnic_write_icons FOLDER NAME\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (const int size : tarnic::kInstalledIconSizes) {
        const QString subfolder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = folder.filePath(subfolder + u'/' + QString::fromLocal8Bit(argv[2]) +
                                             QStringLiteral(".png"));
        if (!folder.mkpath(subfolder) || !tarnic::programIconImage(size).save(path)) {
            std::fprintf(stderr, "tarnic_write_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
