#pragma once
// The program's icon, drawn at every size from the one picture compiled into
// the program (tarnic.svg): the windows' icon and the icons installed for the
// desktop are the same picture.

#include <QIcon>
#include <QImage>

#include <array>

namespace tarnic {

// The sizes the desktop's icon theme gets.
inline constexpr std::array<int, 5> kInstalledIconSizes = {16, 32, 48, 128, 256};

// The picture drawn `size` pixels square, on a transparent background.
QImage programIconImage(int size);

// The windows' icon, with the picture drawn at each installed size.
QIcon programIcon();

} // namespace tarnic
