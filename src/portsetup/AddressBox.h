#pragma once
// The read-only address display of the port dialog: a label that looks like a
// text field. It takes the keyboard focus, and Up and Down report a step of
// the address as the spin control's arrows do; the text is never edited.
#include <QLabel>

namespace kalvor {

class AddressBox : public QLabel {
    Q_OBJECT
public:
    explicit AddressBox(QWidget* parent = nullptr);

signals:
    void stepUp();
    void stepDown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kalvor
