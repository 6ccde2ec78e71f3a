#include "portsetup/PictureButton.h"

#include <QPainter>

namespace kalvor {

PictureButton::PictureButton(const QPixmap& picture, QWidget* parent) : QAbstractButton(parent), picture_(picture)
{
    setFocusPolicy(Qt::TabFocus);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(rect(), picture_);
    if (!hasFocus())
        return;
    // A dotted black and white rectangle: seen on the red switch body as
    // well as on the white and grey slot.
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(frame);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawRect(frame);
}

} // namespace kalvor
