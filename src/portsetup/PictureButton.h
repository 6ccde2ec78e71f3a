#pragma once
// A picture that reports a click: a press and a release of the left button
// over it. It takes no focus and draws no border.
#include <QLabel>

namespace kalvor {

class PictureButton : public QLabel {
    Q_OBJECT
public:
    explicit PictureButton(const QPixmap& picture, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace kalvor
