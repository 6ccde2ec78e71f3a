#pragma once
// A picture that reports a click: a press and a release of the left button
// over it, or Space while it has the keyboard focus. It draws no border and
// takes the focus only from the Tab key, never from the mouse; while it has
// the focus a focus rectangle is drawn over the picture.
#include <QAbstractButton>
#include <QPixmap>

namespace kalvor {

class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PictureButton(const QPixmap& picture, QWidget* parent = nullptr);

    const QPixmap& picture() const { return picture_; }
    QSize sizeHint() const override { return picture_.size(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};

} // namespace kalvor
