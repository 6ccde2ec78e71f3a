#include "batchwin/BatchDialog.h"

#include "batch/IdPlan.h"
#include "batchwin/IdListEditor.h"
#include "core/MessageSink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
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
    name_->setMaxLength(batch::kMaxNameLength);
    operator_ = new QLineEdit(batch::BatchSession::loginName(), this);
    operator_->setObjectName(QStringLiteral("operatorName"));
    operator_->setMaxLength(batch::kMaxNameLength);
    lot_ = new QLineEdit(this);
    lot_->setObjectName(QStringLiteral("lot"));
    lot_->setMaxLength(batch::kMaxNameLength);
    prefix_ = new QLineEdit(this);
    prefix_->setObjectName(QStringLiteral("idPrefix"));
    prefix_->setPlaceholderText(tr("the batch name and -"));
    prefix_->setMaxLength(batch::kMaxNameLength);
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

    // The terms of a production batch: when its irradiation ended, the
    // product's dose limits and how a dose is judged against them.
    irradiatedGiven_ = new QCheckBox(tr("Irradiation &ended:"), this);
    irradiatedGiven_->setObjectName(QStringLiteral("irradiatedGiven"));
    irradiated_ = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    irradiated_->setObjectName(QStringLiteral("irradiated"));
    irradiated_->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    irradiated_->setCalendarPopup(true);
    irradiated_->setEnabled(false);
    connect(irradiatedGiven_, &QCheckBox::toggled, irradiated_, &QWidget::setEnabled);
    form->addRow(irradiatedGiven_, irradiated_);
    limitsGiven_ = new QCheckBox(tr("Dose &limits (kGy):"), this);
    limitsGiven_->setObjectName(QStringLiteral("limitsGiven"));
    limitLow_ = new QDoubleSpinBox(this);
    limitLow_->setObjectName(QStringLiteral("limitLow"));
    limitHigh_ = new QDoubleSpinBox(this);
    limitHigh_->setObjectName(QStringLiteral("limitHigh"));
    for (QDoubleSpinBox* box : {limitLow_, limitHigh_}) {
        box->setRange(0, 1000000);
        box->setDecimals(2);
        box->setEnabled(false);
        connect(limitsGiven_, &QCheckBox::toggled, box, &QWidget::setEnabled);
    }
    rule_ = new QComboBox(this);
    rule_->setObjectName(QStringLiteral("decisionRule"));
    rule_->addItems({tr("simple acceptance on the dose"), tr("guard band of U (pass, fail, undecided)")});
    rule_->setEnabled(false);
    connect(limitsGiven_, &QCheckBox::toggled, rule_, &QWidget::setEnabled);
    auto* limits = new QHBoxLayout;
    limits->addWidget(limitLow_);
    limits->addWidget(new QLabel(tr("to"), this));
    limits->addWidget(limitHigh_);
    limits->addWidget(rule_, 1);
    form->addRow(limitsGiven_, limits);
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
    ids_->setEntries(o.ids.value_or(QList<batch::IdEntry>()));
    irradiatedGiven_->setChecked(o.irradiated.has_value());
    if (o.irradiated)
        irradiated_->setDateTime(o.irradiated->toLocalTime());
    limitsGiven_->setChecked(o.limits.has_value());
    if (o.limits) {
        limitLow_->setValue(o.limits->first);
        limitHigh_->setValue(o.limits->second);
    }
    rule_->setCurrentIndex(o.guardBand.value_or(false) ? 1 : 0);
}

batch::BatchOptions BatchDialog::options() const
{
    batch::BatchOptions o;
    o.name = name_->text().trimmed();
    o.operatorName = operator_->text().trimmed();
    o.lot = lot_->text().trimmed();
    o.idPrefix = prefix_->text();
    o.idFirst = first_->text();
    const QList<batch::IdEntry> ids = ids_->entries();
    if (!ids.isEmpty())
        o.ids = ids;
    if (irradiatedGiven_->isChecked())
        o.irradiated = irradiated_->dateTime();
    if (limitsGiven_->isChecked()) {
        o.limits = std::make_pair(limitLow_->value(), limitHigh_->value());
        o.guardBand = rule_->currentIndex() == 1;
    }
    return o;
}

void BatchDialog::accept()
{
    const batch::BatchOptions o = options();
    if (o.name.isEmpty()) {
        showMessage(tr("The batch needs a name."));
        return;
    }
    if (o.limits && !(o.limits->first < o.limits->second)) {
        showMessage(tr("The lower dose limit must lie below the upper one."));
        return;
    }
    QString why;
    if (o.ids && !batch::IdPlan::checkList(*o.ids, &why)) {
        showMessage(tr("The list of dosimeter IDs cannot be used: %1.").arg(why));
        return;
    }
    QDialog::accept();
}

} // namespace kalvor::batchwin
