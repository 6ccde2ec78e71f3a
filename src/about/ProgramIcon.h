#pragma once
// The program's icon, drawn by tools/artwork/make_artwork.py into
// resources/icons/ and compiled in under ":/kalvor/icons/".
#include <QIcon>
#include <QString>

namespace kalvor {

// Resource path of the icon at one of the sizes 16, 24, 32, 48, 64, 128, 256.
QString programIconPath(int size);

// The icon with all its sizes, for QApplication::setWindowIcon.
QIcon programIcon();

} // namespace kalvor
