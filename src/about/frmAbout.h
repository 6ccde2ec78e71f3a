#pragma once
// The About box: names the program, its version and purpose, and shows the
// owner's notice. Modeless and without an owner, so the main window goes on
// reading behind it; there is never more than one.
#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

namespace kalvor {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // Shows the About box: loads it if it is not loaded, otherwise brings the
    // open box to the front. Returns at once.
    static void showAbout();
    // The loaded box, or nullptr.
    static frmAbout* instance();

    ~frmAbout() override;

    // Resource path of the emblem shown in picIcon (32 x 32 pixels).
    static QString emblemPath();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    frmAbout();
    void Form_Load();
    void cmdOK_Click();
    void buildControls();

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QWidget* Line1_1 = nullptr;
    QWidget* Line1_0 = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
};

} // namespace kalvor
