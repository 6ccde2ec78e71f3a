#include "batchwin/ReasonDialog.h"

#include "batch/BatchSession.h"
#include "core/MessageSink.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kalvor::batchwin {

ReasonDialog::ReasonDialog(const QString& title, const QString& question, const QStringList& usual, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    auto* label = new QLabel(question, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    reason_ = new QComboBox(this);
    reason_->setObjectName(QStringLiteral("reason"));
    reason_->setEditable(true);
    reason_->setInsertPolicy(QComboBox::NoInsert);
    reason_->addItems(usual);
    reason_->setCurrentIndex(-1);
    reason_->lineEdit()->setMaxLength(batch::kMaxReasonLength);
    reason_->lineEdit()->setPlaceholderText(tr("Why (kept with the record)"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(reason_);
    layout->addWidget(buttons);
    resize(460, sizeHint().height());
}

QString ReasonDialog::reason() const { return reason_->currentText().trimmed(); }

void ReasonDialog::accept()
{
    if (reason().isEmpty()) {
        showMessage(tr("Give a reason: it is kept with the record."));
        return;
    }
    if (const QString problem = batch::BatchSession::nameProblem(tr("reason"), reason(), batch::kMaxReasonLength);
        !problem.isEmpty()) {
        showMessage(problem);
        return;
    }
    QDialog::accept();
}

std::optional<QString> ReasonDialog::ask(QWidget* parent, const QString& title, const QString& question,
                                         const QStringList& usual)
{
    ReasonDialog dialog(title, question, usual, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.reason();
}

} // namespace kalvor::batchwin
