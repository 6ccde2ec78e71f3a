#pragma once
// Window geometry is laid out in twips (1/1440 inch) and scaled by the screen's
// logical DPI, so windows keep their proportions at 96 and at 192 dpi.
#include <QRect>
#include <QWidget>
#include <cmath>

namespace kalvor {

inline double logicalDpi(const QWidget* w) { return w ? w->logicalDpiX() : 96.0; }

inline int twipsToPx(double twips, double dpi) { return int(std::lround(twips * dpi / 1440.0)); }
inline double pxToTwips(double px, double dpi) { return px * 1440.0 / dpi; }

inline int twipsToPx(double twips, const QWidget* w) { return twipsToPx(twips, logicalDpi(w)); }

inline QRect twipsRect(double left, double top, double width, double height, const QWidget* w)
{
    const double dpi = logicalDpi(w);
    return QRect(twipsToPx(left, dpi), twipsToPx(top, dpi), twipsToPx(width, dpi), twipsToPx(height, dpi));
}

// Places a child widget at a rectangle given in twips.
inline void placeTwips(QWidget* child, double left, double top, double width, double height)
{
    child->setGeometry(twipsRect(left, top, width, height, child->parentWidget() ? child->parentWidget() : child));
}

} // namespace kalvor
