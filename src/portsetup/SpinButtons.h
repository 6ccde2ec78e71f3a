#pragma once
// A spin control that only reports clicks: an up arrow button above a down
// arrow button, filling the control's rectangle. It has no value of its own.
#include <QWidget>

class QToolButton;

namespace kalvor {

class SpinButtons : public QWidget {
    Q_OBJECT
public:
    explicit SpinButtons(QWidget* parent = nullptr);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    void upClick();
    void downClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
};

} // namespace kalvor
