#pragma once
// File > Lots: the film lots of the store, each with its nominal thickness
// and uncertainty, film type, background A0 at each wavelength and where it
// came from, notes, and the calibrations that give its doses; below, a form
// that adds a lot or changes the one chosen (a new row that supersedes it).
// The background is typed for a wavelength, or the mean of a batch of
// unirradiated films chosen from the store.
#include "records/RecordStore.h"

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace kalvor::batchwin {

class LotsDialog : public QDialog {
    Q_OBJECT
public:
    // `operatorName` is recorded with each row added; `wavelengthNm` is
    // offered for a typed background (the reader's, when known).
    LotsDialog(records::RecordStore& store, const QString& operatorName, int wavelengthNm = 510, QWidget* parent = nullptr);

    // Stores the form as a new lot or a change of one; false when it cannot
    // be stored (the user is told why).
    bool storeLot();

private:
    void showLots();
    void fillForm(const QString& lotName);
    void showFormState();
    void showBatchBackground();

    records::RecordStore& store_;
    QString operator_;
    QTableWidget* lots_;
    QLineEdit* name_;
    QLineEdit* type_;
    QDoubleSpinBox* thickness_;
    QDoubleSpinBox* thicknessU_;
    QRadioButton* keep_;
    QRadioButton* typed_;
    QRadioButton* fromBatch_;
    QDoubleSpinBox* a0_;
    QSpinBox* wavelength_;
    QComboBox* batch_;
    QLabel* batchBackground_;
    QLineEdit* notes_;
    QLabel* note_;
    QLabel* done_;
    QPushButton* storeButton_;
};

} // namespace kalvor::batchwin
