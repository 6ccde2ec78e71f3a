#include "app/ScreenPlacement.h"

#include <cmath>
#include <cstdlib>

namespace kalvor {

TwipsPosition keepOnScreen(TwipsPosition stored, float width, float height, float screenWidth, float screenHeight)
{
    TwipsPosition p = stored;
    if (width + p.left > screenWidth)
        p.left = screenWidth - width;
    if (height + p.top > screenHeight)
        p.top = screenHeight - height;
    return p;
}

bool standsWherePlaced(QPoint placed, QPoint now, double devicePixelRatio)
{
    const int slack = devicePixelRatio == std::floor(devicePixelRatio) ? 0 : 1;
    return std::abs(now.x() - placed.x()) <= slack && std::abs(now.y() - placed.y()) <= slack;
}

} // namespace kalvor
