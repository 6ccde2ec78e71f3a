#include "portsetup/PictureButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace kalvor {

PictureButton::PictureButton(const QPixmap& picture, QWidget* parent) : QAbstractButton(parent), picture_(picture)
{
    setFocusPolicy(Qt::TabFocus);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(rect(), picture_);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(1, 1, -1, -1);
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

} // namespace kalvor
