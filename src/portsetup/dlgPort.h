#pragma once
// The port setup dialog: shows the card address in hexadecimal with a spin
// control and the address DIP switches that select it, tests the address
// with the main window's head test, and stores a tested address as "Port".
//
// Accept hides the dialog and it keeps its state for the next opening; Cancel
// (or closing it from the title bar) unloads it, so the next opening loads it
// afresh from the main window's base. PortDialogController does the opening.
#include <QDialog>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QFrame;

namespace kalvor {

class AddressBox;
class PortDialogHost;
class PictureButton;
class SpinButtons;

class dlgPort : public QDialog {
    Q_OBJECT
public:
    explicit dlgPort(PortDialogHost& host, QWidget* parent = nullptr);

    // Loaded from the first showing until Cancel.
    bool isLoaded() const { return loaded_; }
    std::int16_t newBase() const { return newBase_; }

    void reject() override;  // title bar close = Cancel

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Form_Load();
    void txtPort_Change();
    void UpDown1_UpClick();
    void UpDown1_DownClick();
    void DIP_Click(int index);
    void DIPoff_Click(int index);
    void btnTest_Click();
    void OKButton_Click();
    void cmdCancel_Click();

    void showSwitches();
    void readSwitches();
    // Shows the on or the off picture of one switch and hides the other.
    void showSwitch(int index, bool on);
    // Sets the address display; a different text runs txtPort_Change.
    void setPortText(const QString& text);
    void stepAddress(bool up);

    void buildControls();

    PortDialogHost& host_;
    bool loaded_ = false;
    std::int16_t newBase_ = 0;

    QLabel* lblPortInstructions = nullptr;
    QLabel* lblPortAddress = nullptr;
    AddressBox* txtPort = nullptr;
    SpinButtons* UpDown1 = nullptr;
    QLabel* lblSwitchHdr1 = nullptr;
    QLabel* lblSwitchHdr2 = nullptr;
    std::array<QLabel*, 7> Label5{};
    QFrame* Frame1 = nullptr;
    std::array<PictureButton*, 7> DIP{};
    std::array<PictureButton*, 7> DIPoff{};
    QPushButton* btnTest = nullptr;
    QLabel* lblSwitchInstructions = nullptr;
    QLabel* Picture1 = nullptr;
    QLabel* lblPicture = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace kalvor
