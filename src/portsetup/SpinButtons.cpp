#include "portsetup/SpinButtons.h"

#include <QToolButton>

namespace kalvor {

namespace {
QToolButton* arrowButton(QWidget* parent, Qt::ArrowType arrow, const char* name)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setArrowType(arrow);
    b->setAutoRepeat(true);  // holding an arrow keeps clicking, as a spin control does
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}
} // namespace

SpinButtons::SpinButtons(QWidget* parent) : QWidget(parent)
{
    up_ = arrowButton(this, Qt::UpArrow, "up");
    down_ = arrowButton(this, Qt::DownArrow, "down");
    connect(up_, &QToolButton::clicked, this, &SpinButtons::upClick);
    connect(down_, &QToolButton::clicked, this, &SpinButtons::downClick);
}

void SpinButtons::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int upHeight = (height() + 1) / 2;
    up_->setGeometry(0, 0, width(), upHeight);
    down_->setGeometry(0, upHeight, width(), height() - upHeight);
}

} // namespace kalvor
