#include "portsetup/AddressBox.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace kalvor {

AddressBox::AddressBox(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void AddressBox::keyPressEvent(QKeyEvent* event)
{
    // Held down, the key repeats, as a held spin arrow does.
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Up) {
            emit stepUp();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Down) {
            emit stepDown();
            event->accept();
            return;
        }
    }
    QLabel::keyPressEvent(event);
}

void AddressBox::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter p(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    // Shown whenever the box has the focus, also the focus it is opened with.
    focus.state |= QStyle::State_KeyboardFocusChange;
    focus.rect = contentsRect().adjusted(1, 1, -1, -1);
    focus.backgroundColor = palette().color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
}

} // namespace kalvor
