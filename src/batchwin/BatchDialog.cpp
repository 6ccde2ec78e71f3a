#include "batchwin/BatchDialog.h"

#include "batch/IdPlan.h"
#include "batchwin/IdListEditor.h"
#include "core/MessageSink.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace kalvor::batchwin {

BatchDialog::BatchDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Batch"));
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("batchName"));
    name_->setMaxLength(200);
    operator_ = new QLineEdit(batch::BatchSession::loginName(), this);
    operator_->setObjectName(QStringLiteral("operatorName"));
    lot_ = new QLineEdit(this);
    lot_->setObjectName(QStringLiteral("lot"));
    prefix_ = new QLineEdit(this);
    prefix_->setObjectName(QStringLiteral("idPrefix"));
    prefix_->setPlaceholderText(tr("the batch name and -"));
    first_ = new QLineEdit(this);
    first_->setObjectName(QStringLiteral("idFirst"));
    first_->setPlaceholderText(QStringLiteral("001"));
    first_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,12}")), first_));
    ids_ = new IdListEditor(this);

    auto* form = new QFormLayout;
    form->addRow(tr("Batch &name:"), name_);
    form->addRow(tr("&Operator:"), operator_);
    form->addRow(tr("Film &lot:"), lot_);
    form->addRow(tr("ID &prefix:"), prefix_);
    form->addRow(tr("&First number:"), first_);
    auto* hint = new QLabel(tr("An open batch of the same name goes on where it stopped; its lot and "
                               "numbering stay, a list given here replaces its list."), this);
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Dosimeter &IDs:"), this));
    layout->addWidget(ids_, 1);
    layout->addWidget(hint);
    layout->addWidget(buttons);
    resize(460, 520);
}

void BatchDialog::setOptions(const batch::BatchOptions& o)
{
    name_->setText(o.name);
    if (!o.operatorName.isEmpty())
        operator_->setText(o.operatorName);
    lot_->setText(o.lot);
    prefix_->setText(o.idPrefix);
    first_->setText(o.idFirst);
    ids_->setIds(o.ids.value_or(QStringList()));
}

batch::BatchOptions BatchDialog::options() const
{
    batch::BatchOptions o;
    o.name = name_->text().trimmed();
    o.operatorName = operator_->text().trimmed();
    o.lot = lot_->text().trimmed();
    o.idPrefix = prefix_->text();
    o.idFirst = first_->text();
    const QStringList ids = ids_->ids();
    if (!ids.isEmpty())
        o.ids = ids;
    return o;
}

void BatchDialog::accept()
{
    const batch::BatchOptions o = options();
    if (o.name.isEmpty()) {
        showMessage(tr("The batch needs a name."));
        return;
    }
    for (const QString& id : o.ids.value_or(QStringList()))
        if (!batch::IdPlan::isValidId(id)) {
            showMessage(tr("\"%1\" is not a usable dosimeter ID (at most 64 characters, no control characters).").arg(id.left(80)));
            return;
        }
    QDialog::accept();
}

} // namespace kalvor::batchwin
