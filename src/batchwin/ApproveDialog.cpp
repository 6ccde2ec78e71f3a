#include "batchwin/ApproveDialog.h"

#include "batch/BatchSession.h"
#include "core/MessageSink.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kalvor::batchwin {

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

} // namespace

ApproveDialog::ApproveDialog(qint64 calibration, const QString& what, const QString& supersedes, const QString& login,
                             const QString& approverName, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Approve calibration %1").arg(calibration));
    auto* about = plainLabel(what, this);
    about->setObjectName(QStringLiteral("calibration"));
    auto* then = plainLabel(supersedes.isEmpty() ? tr("No calibration is approved yet for this lot, reader and "
                                                      "wavelength.")
                                                 : supersedes,
                            this);
    then->setObjectName(QStringLiteral("supersedes"));
    auto* loginLabel = plainLabel(login, this);
    loginLabel->setObjectName(QStringLiteral("login"));
    name_ = new QLineEdit(approverName, this);
    name_->setObjectName(QStringLiteral("approverName"));
    name_->setMaxLength(batch::kMaxNameLength);
    reason_ = new QComboBox(this);
    reason_->setObjectName(QStringLiteral("reason"));
    reason_->setEditable(true);
    reason_->setInsertPolicy(QComboBox::NoInsert);
    reason_->addItems({tr("calibration of a new lot"), tr("periodic recalibration"),
                       tr("recalibration after service of the reader"), tr("a better model for the same films")});
    reason_->setCurrentIndex(-1);
    reason_->lineEdit()->setMaxLength(batch::kMaxReasonLength);
    reason_->lineEdit()->setPlaceholderText(tr("Why (kept with the approval)"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("&Approve"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(about);
    form->addRow(then);
    form->addRow(tr("Approved by (login):"), loginLabel);
    form->addRow(tr("Approver's &name:"), name_);
    form->addRow(tr("&Reason:"), reason_);
    form->addRow(buttons);
    resize(520, sizeHint().height());
}

QString ApproveDialog::approverName() const { return name_->text().trimmed(); }
QString ApproveDialog::reason() const { return reason_->currentText().trimmed(); }

void ApproveDialog::accept()
{
    if (reason().isEmpty()) {
        showMessage(tr("Give a reason: it is kept with the approval."));
        return;
    }
    for (const auto& [what, text, length] : {std::tuple{tr("approver's name"), approverName(), batch::kMaxNameLength},
                                             std::tuple{tr("reason"), reason(), batch::kMaxReasonLength}})
        if (const QString problem = batch::BatchSession::nameProblem(what, text, length); !problem.isEmpty()) {
            showMessage(problem);
            return;
        }
    QDialog::accept();
}

} // namespace kalvor::batchwin
