#pragma once
// Asks for an approval of a stored calibration: what it is and what it will
// supersede, who approves (the login name, which cannot be changed here, and
// the approver's name) and why. The answer is what the approval keeps.
#include <QDialog>

class QComboBox;
class QLineEdit;

namespace kalvor::batchwin {

class ApproveDialog : public QDialog {
    Q_OBJECT
public:
    // `what`: the calibration in words; `supersedes`: the approval it ends, or empty.
    ApproveDialog(qint64 calibration, const QString& what, const QString& supersedes, const QString& login,
                  const QString& approverName, QWidget* parent = nullptr);

    QString approverName() const;
    QString reason() const;
    void accept() override;

private:
    QLineEdit* name_;
    QComboBox* reason_;
};

} // namespace kalvor::batchwin
