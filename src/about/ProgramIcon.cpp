#include "about/ProgramIcon.h"

namespace kalvor {

namespace {
constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};
} // namespace

QString programIconPath(int size)
{
    return QStringLiteral(":/kalvor/icons/kalvor-%1.png").arg(size);
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : kSizes)
        icon.addFile(programIconPath(size), QSize(size, size));
    return icon;
}

} // namespace kalvor
