#pragma once
// A new batch, or an open one to go on with: name, operator, film lot and the
// dosimeter IDs (a list, or a prefix and first number to count up from).
#include "batch/BatchSession.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLineEdit;

namespace kalvor::batchwin {

class IdListEditor;

class BatchDialog : public QDialog {
    Q_OBJECT
public:
    explicit BatchDialog(QWidget* parent = nullptr);

    void setOptions(const batch::BatchOptions& options);
    batch::BatchOptions options() const;

    void accept() override;

private:
    QLineEdit* name_;
    QLineEdit* operator_;
    QLineEdit* lot_;
    QLineEdit* prefix_;
    QLineEdit* first_;
    IdListEditor* ids_;
    QCheckBox* irradiatedGiven_;
    QDateTimeEdit* irradiated_;
    QCheckBox* limitsGiven_;
    QDoubleSpinBox* limitLow_;
    QDoubleSpinBox* limitHigh_;
    QComboBox* rule_;
};

} // namespace kalvor::batchwin
