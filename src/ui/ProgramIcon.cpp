#include "ProgramIcon.h"

#include "texts/BuildInfo.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tarnic {

QImage programIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer picture(QStringLiteral(":/tarnic/tarnic.svg"));
    QPainter painter(&image);
    picture.render(&painter);
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : kInstalledIconSizes)
        icon.addPixmap(QPixmap::fromImage(programIconImage(size)));
    return icon;
}

} // namespace tarnic
