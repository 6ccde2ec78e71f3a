#pragma once
// File > Calibration: a lot's calibration from a batch of films irradiated to
// reference doses. The user chooses the lot, the calibration batch and the
// doses file, the model (and through zero) and the reference doses'
// uncertainty; the window shows the films' responses with the fitted curve,
// the residuals in % below it, the fit's parameters and statistics, and every
// model side by side (choosing a row fits that model). Films without a dose
// and doses without a film are named, a refused fit says why. The fit is
// stored as a draft (its ID is the calibration's), and the lot's stored
// calibrations are listed with their state, so that any draft can be
// approved with a reason. The work is done by CalibrationBuilder and
// CalibrationStates (src/batch); the window wires widgets to them.
#include "batch/CalibrationBuilder.h"
#include "batch/CalibrationStates.h"
#include "calib/Compare.h"

#include <QMainWindow>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kalvor::batchwin {

class CalibrationPlots;

class CalibrationWindow : public QMainWindow {
    Q_OBJECT
public:
    // `operatorName` is recorded with a draft and offered as the approver's name.
    CalibrationWindow(records::RecordStore& store, const QString& operatorName, QWidget* parent = nullptr);

    // The choices, also for the program (the open batch) and tests.
    void chooseLot(const QString& lot);
    void chooseBatch(const QString& batch);
    void loadDoses(const QString& path);
    // Stores the fit shown as a draft; its ID, or nothing (the user is told why).
    std::optional<qint64> storeDraft();
    // Asks for the approval of the calibration chosen in the list.
    void approveChosen();
    // Reads the lots and batches of the store again (keeping the choices).
    void reloadChoices();

private:
    batch::CalibrationRequest request() const;
    void prepare();
    void refit();
    void showFit();
    void showComparison();
    void showStored(std::optional<qint64> choose = std::nullopt);
    void fillLots();
    void fillBatches();
    std::optional<batch::StoredCalibration> chosenStored() const;

    records::RecordStore& store_;
    QString operator_;
    std::optional<batch::CalibrationDraft> draft_;
    std::vector<calib::ComparisonRow> comparison_;
    std::optional<qint64> storedId_;  // the draft stored from the fit shown
    QList<batch::StoredCalibration> storedList_;

    QComboBox* lot_;
    QComboBox* batch_;
    QLineEdit* doses_;
    QComboBox* model_;
    QCheckBox* throughZero_;
    QDoubleSpinBox* referenceU_;
    QLineEdit* readWindow_;
    QLabel* source_;
    QLabel* unmatched_;
    QLabel* refusal_;
    CalibrationPlots* plots_;
    QLabel* formula_;
    QTableWidget* parameters_;
    QFormLayout* statistics_;
    QTableWidget* compare_;
    QTableWidget* stored_;
    QPushButton* storeButton_;
    QPushButton* approveButton_;
    QLabel* storedText_;
};

} // namespace kalvor::batchwin
