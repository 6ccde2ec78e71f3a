#pragma once
// The neutral density filter check: zero on the empty filter holder, then read
// the light, medium and dark filters against that zero. Each result is shown
// here and copied into the main window's data items na, nb and nc.
//
// The main window creates the dialog, runs exec() and destroys it afterwards.
#include <QDialog>

class QLabel;
class QPushButton;

namespace kalvor {

class NdfHost;

class frmNDF : public QDialog {
    Q_OBJECT
public:
    explicit frmNDF(NdfHost& host, QWidget* parent = nullptr);

    // The dialog's zero and the latest result of each filter.
    double zNDF() const { return zNDF_; }
    double aLight() const { return aLight_; }
    double aMedium() const { return aMedium_; }
    double aDark() const { return aDark_; }

    // Closing unloads the dialog: shown again, it starts as on first opening.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void cmdZero_Click();
    void cmdLight_Click();
    void cmdMedium_Click();
    void cmdDark_Click();
    void cmdSaveNDF_Click();
    void OKButton_Click();

    // The steps shared by the three filter buttons.
    void readFilter(double& result, QLabel* resultLabel, const QString& item, QPushButton* next);
    void setFilterButtonsEnabled(bool enabled);

    void buildControls();
    void placeWindow();

    NdfHost& host_;
    bool loaded_ = false;

    double zNDF_ = 0.0;
    double aLight_ = 0.0;
    double aMedium_ = 0.0;
    double aDark_ = 0.0;

    QLabel* lblInstructions = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* cmdZero = nullptr;
    QLabel* lblHdr = nullptr;
    QLabel* lblWL = nullptr;
    QPushButton* cmdLight = nullptr;
    QLabel* ndfA = nullptr;
    QPushButton* cmdMedium = nullptr;
    QLabel* ndfB = nullptr;
    QPushButton* cmdDark = nullptr;
    QLabel* ndfC = nullptr;
    QPushButton* cmdSaveNDF = nullptr;
};

} // namespace kalvor
