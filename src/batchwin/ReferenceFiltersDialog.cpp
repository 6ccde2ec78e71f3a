#include "batchwin/ReferenceFiltersDialog.h"

#include "batch/QualityControl.h"
#include "core/MessageSink.h"
#include "records/Calibrations.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

QDoubleSpinBox* absorbanceBox(QWidget* parent, const char* name, double value, double max = 3.0)
{
    auto* b = new QDoubleSpinBox(parent);
    b->setObjectName(QLatin1String(name));
    b->setDecimals(3);
    b->setRange(0, max);
    b->setSingleStep(0.001);
    b->setValue(value);
    return b;
}

} // namespace

ReferenceFiltersDialog::ReferenceFiltersDialog(BatchSession& session, QWidget* parent) : QDialog(parent), session_(session)
{
    setWindowTitle(tr("Reference Filters"));
    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("referenceSets"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* form = new QGroupBox(tr("Record a certificate (it supersedes the one before for that reader and wavelength)"), this);
    serial_ = new QLineEdit(session.reader().serial, form);
    serial_->setObjectName(QStringLiteral("serial"));
    wavelength_ = new QLineEdit(session.reader().wavelength, form);
    wavelength_->setObjectName(QStringLiteral("wavelength"));
    wavelength_->setPlaceholderText(tr("e.g. 510 nm"));
    light_ = absorbanceBox(form, "light", 0.3);
    medium_ = absorbanceBox(form, "medium", 0.8);
    dark_ = absorbanceBox(form, "dark", 1.5);
    hasU_ = new QCheckBox(tr("U (k = 2):"), form);
    u_ = absorbanceBox(form, "u", 0.005, 0.5);
    ownTolerance_ = new QCheckBox(tr("Tolerance ±:"), form);
    tolerance_ = absorbanceBox(form, "tolerance", kDefaultFilterTolerance, 0.5);
    certificate_ = new QLineEdit(form);
    certificate_->setObjectName(QStringLiteral("certificate"));
    certificate_->setMaxLength(kMaxNameLength);
    date_ = new QDateEdit(QDate::currentDate(), form);
    date_->setObjectName(QStringLiteral("certificateDate"));
    date_->setCalendarPopup(true);
    date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    auto* defaultNote = new QLabel(tr("default: 0.010, or U when larger"), form);
    auto* absorbances = new QHBoxLayout;
    for (const auto& [text, box] : {std::pair{tr("light"), light_}, std::pair{tr("medium"), medium_}, std::pair{tr("dark"), dark_}}) {
        absorbances->addWidget(new QLabel(text, form));
        absorbances->addWidget(box);
    }
    absorbances->addStretch(1);
    auto* limits = new QHBoxLayout;
    limits->addWidget(hasU_);
    limits->addWidget(u_);
    limits->addSpacing(16);
    limits->addWidget(ownTolerance_);
    limits->addWidget(tolerance_);
    limits->addWidget(defaultNote);
    limits->addStretch(1);
    auto* record = new QPushButton(tr("&Record"), form);
    record->setObjectName(QStringLiteral("record"));
    auto* fields = new QFormLayout(form);
    fields->addRow(tr("Reader serial:"), serial_);
    fields->addRow(tr("Wavelength:"), wavelength_);
    fields->addRow(tr("Certified absorbance:"), absorbances);
    fields->addRow(limits);
    fields->addRow(tr("Certificate ID:"), certificate_);
    fields->addRow(tr("Certificate date:"), date_);
    fields->addRow(record);
    u_->setEnabled(false);
    tolerance_->setEnabled(false);
    connect(hasU_, &QCheckBox::toggled, u_, &QWidget::setEnabled);
    connect(ownTolerance_, &QCheckBox::toggled, tolerance_, &QWidget::setEnabled);
    connect(record, &QPushButton::clicked, this, &ReferenceFiltersDialog::recordSet);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addWidget(form);
    layout->addWidget(buttons);
    resize(900, 560);
    showSets();
}

bool ReferenceFiltersDialog::recordSet()
{
    records::ReferenceSet s;
    s.readerSerial = serial_->text();
    s.wavelength = wavelength_->text();
    s.light = light_->value();
    s.medium = medium_->value();
    s.dark = dark_->value();
    if (hasU_->isChecked())
        s.expandedU = u_->value();
    s.tolerance = ownTolerance_->isChecked() ? tolerance_->value() : records::defaultTolerance(s.expandedU);
    s.certificate = certificate_->text();
    s.certificateDate = date_->date();
    QString why;
    if (!recordReferenceSet(session_.store(), s, session_.operatorName(), &why)) {
        showMessage(tr("The reference filters are not recorded: %1").arg(why));
        return false;
    }
    certificate_->clear();
    showSets();
    return true;
}

void ReferenceFiltersDialog::showSets()
{
    const QList<records::ReferenceSet> all = records::referenceSets(session_.store());
    const QList<records::ReferenceSet> current = records::currentReferenceSets(all);
    const QStringList header{tr("row"), tr("reader"), tr("wavelength"), tr("light"), tr("medium"), tr("dark"), tr("U"),
                             tr("tolerance"), tr("certificate"), tr("date"), tr("recorded"), tr("by"), tr("state")};
    table_->clear();
    table_->setColumnCount(int(header.size()));
    table_->setHorizontalHeaderLabels(header);
    table_->setRowCount(int(all.size()));
    for (int r = 0; r < all.size(); ++r) {
        const records::ReferenceSet& s = all[r];
        const bool isCurrent = std::any_of(current.begin(), current.end(), [&](const auto& c) { return c.seq == s.seq; });
        const QStringList cells{QString::number(s.seq), s.readerSerial, s.wavelength, QString::number(s.light, 'f', 3),
                                QString::number(s.medium, 'f', 3), QString::number(s.dark, 'f', 3),
                                s.expandedU ? QString::number(*s.expandedU, 'f', 3) : QString(),
                                QStringLiteral("±") + QString::number(s.tolerance, 'f', 3), s.certificate,
                                s.certificateDate.toString(Qt::ISODate),
                                QDateTime::fromString(s.timeUtc, Qt::ISODateWithMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                s.operatorName, isCurrent ? tr("current") : tr("superseded")};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (!isCurrent)
                item->setForeground(QColor(0x80, 0x80, 0x80));
            table_->setItem(r, c, item);
        }
    }
    table_->resizeColumnsToContents();
}

} // namespace kalvor::batchwin
