#pragma once
// The program's icon, drawn at every size from the one picture compiled into
// the program (tarnic.svg): the windows' icon and the icons installed for the
// desktop are the same picture.

#include <QIcon>
#include <QImage>

namespace tarnic {

// The picture drawn `size` pixels square, on a transparent background.
QImage programIconImage(int size);

// The windows' icon, with the picture drawn at each installed size.
QIcon programIcon();

} // namespace tarnic
