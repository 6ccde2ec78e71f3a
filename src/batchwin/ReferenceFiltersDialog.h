#pragma once
// File > Reference Filters: the certificates recorded for each reader and
// wavelength (the current one and those it superseded), and a form to record
// a new one, filled in with the reader in use.
#include "batch/BatchSession.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QDoubleSpinBox;
class QLineEdit;
class QTableWidget;

namespace kalvor::batchwin {

class ReferenceFiltersDialog : public QDialog {
    Q_OBJECT
public:
    explicit ReferenceFiltersDialog(batch::BatchSession& session, QWidget* parent = nullptr);

    // Records the form's set; false (with the reason shown) when it cannot.
    bool recordSet();

private:
    void showSets();

    batch::BatchSession& session_;
    QTableWidget* table_;
    QLineEdit* serial_;
    QLineEdit* wavelength_;
    QDoubleSpinBox* light_;
    QDoubleSpinBox* medium_;
    QDoubleSpinBox* dark_;
    QCheckBox* hasU_;
    QDoubleSpinBox* u_;
    QCheckBox* ownTolerance_;
    QDoubleSpinBox* tolerance_;
    QLineEdit* certificate_;
    QDateEdit* date_;
};

} // namespace kalvor::batchwin
