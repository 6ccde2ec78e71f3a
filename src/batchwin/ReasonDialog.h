#pragma once
// Asks why: a record is corrected, read again or voided. The question names
// the record in plain text; a few usual reasons are offered, any other can be
// typed. The answer is what the record keeps as its reason.
#include <QDialog>

class QComboBox;
class QLabel;

namespace kalvor::batchwin {

class ReasonDialog : public QDialog {
    Q_OBJECT
public:
    ReasonDialog(const QString& title, const QString& question, const QStringList& usual, QWidget* parent = nullptr);

    QString reason() const;
    void accept() override;

    // The dialog as one call: the reason, or nothing when cancelled.
    static std::optional<QString> ask(QWidget* parent, const QString& title, const QString& question,
                                      const QStringList& usual);

private:
    QComboBox* reason_;
};

} // namespace kalvor::batchwin
