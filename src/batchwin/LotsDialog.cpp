#include "batchwin/LotsDialog.h"

#include "batch/BatchSession.h"
#include "batch/Lots.h"
#include "batch/StoredBatches.h"
#include "core/MessageSink.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

enum Column { Name, Type, Thickness, Backgrounds, Calibrations, Notes, Changed, ColumnCount };

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

QString localTime(const QString& utc)
{
    const QDateTime t = QDateTime::fromString(utc, Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : utc;
}

} // namespace

LotsDialog::LotsDialog(RecordStore& store, const QString& operatorName, int wavelengthNm, QWidget* parent)
    : QDialog(parent), store_(store), operator_(operatorName)
{
    setWindowTitle(tr("Film lots"));

    lots_ = new QTableWidget(0, ColumnCount, this);
    lots_->setObjectName(QStringLiteral("lots"));
    lots_->setHorizontalHeaderLabels({tr("Lot"), tr("Film type"), tr("Thickness"), tr("Background A0"),
                                      tr("Approved calibrations"), tr("Notes"), tr("Last changed")});
    lots_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lots_->setSelectionMode(QAbstractItemView::SingleSelection);
    lots_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lots_->setWordWrap(true);
    lots_->verticalHeader()->hide();
    lots_->horizontalHeader()->setStretchLastSection(true);
    lots_->setAlternatingRowColors(true);

    auto* form = new QGroupBox(tr("Add a lot, or change the one chosen above"), this);
    name_ = new QLineEdit(form);
    name_->setObjectName(QStringLiteral("name"));
    name_->setMaxLength(kMaxNameLength);
    name_->setPlaceholderText(tr("e.g. L7-2026"));
    auto* newLot = new QPushButton(tr("&New Lot"), form);
    type_ = new QLineEdit(form);
    type_->setObjectName(QStringLiteral("filmType"));
    type_->setMaxLength(kMaxNameLength);
    type_->setPlaceholderText(tr("e.g. radiochromic film, 0.1 mm"));
    thickness_ = new QDoubleSpinBox(form);
    thickness_->setObjectName(QStringLiteral("thickness"));
    thickness_->setDecimals(4);
    thickness_->setRange(0.0001, kMaxThicknessMm);
    thickness_->setSingleStep(0.001);
    thickness_->setSuffix(tr(" mm"));
    thickness_->setValue(0.1);
    thicknessU_ = new QDoubleSpinBox(form);
    thicknessU_->setObjectName(QStringLiteral("thicknessU"));
    thicknessU_->setDecimals(4);
    thicknessU_->setRange(0, 1);
    thicknessU_->setSingleStep(0.0005);
    thicknessU_->setSuffix(tr(" mm"));
    keep_ = new QRadioButton(form);
    keep_->setObjectName(QStringLiteral("keepBackground"));
    typed_ = new QRadioButton(tr("Ty&ped:"), form);
    typed_->setObjectName(QStringLiteral("typedBackground"));
    a0_ = new QDoubleSpinBox(form);
    a0_->setObjectName(QStringLiteral("a0"));
    a0_->setDecimals(4);
    a0_->setRange(kMinBackground, kMaxBackground);
    a0_->setSingleStep(0.001);
    wavelength_ = new QSpinBox(form);
    wavelength_->setObjectName(QStringLiteral("wavelength"));
    wavelength_->setRange(200, 1100);
    wavelength_->setSuffix(tr(" nm"));
    wavelength_->setValue(wavelengthNm);
    fromBatch_ = new QRadioButton(tr("&Mean of the unirradiated films of batch:"), form);
    fromBatch_->setObjectName(QStringLiteral("batchBackground"));
    batch_ = new QComboBox(form);
    batch_->setObjectName(QStringLiteral("backgroundBatch"));
    batch_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    batch_->setMinimumContentsLength(30);
    for (const StoredBatch& b : storedBatches(store_))
        batch_->addItem(batchChoiceText(b), b.batch.name);
    batch_->setPlaceholderText(batch_->count() > 0 ? tr("choose the batch") : tr("no batch in the store yet"));
    batch_->setCurrentIndex(-1);
    batchBackground_ = plainLabel(QString(), form);
    notes_ = new QLineEdit(form);
    notes_->setObjectName(QStringLiteral("notes"));
    notes_->setMaxLength(kMaxNotesLength);
    notes_->setPlaceholderText(tr("e.g. supplier's batch, date received, storage"));
    note_ = plainLabel(QString(), form);
    note_->setStyleSheet(QStringLiteral("color:#505050"));
    storeButton_ = new QPushButton(form);
    storeButton_->setObjectName(QStringLiteral("storeLot"));
    done_ = plainLabel(QString(), form);
    done_->setObjectName(QStringLiteral("done"));
    done_->setStyleSheet(QStringLiteral("color:#1a8f3a"));

    auto* backgroundGroup = new QButtonGroup(this);
    for (QRadioButton* b : {keep_, typed_, fromBatch_})
        backgroundGroup->addButton(b);
    keep_->setChecked(true);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(name_, 1);
    nameRow->addWidget(newLot);
    auto* thicknessRow = new QHBoxLayout;
    thicknessRow->addWidget(thickness_);
    thicknessRow->addWidget(new QLabel(tr("standard uncertainty"), form));
    thicknessRow->addWidget(thicknessU_);
    thicknessRow->addStretch(1);
    auto* background = new QGridLayout;
    background->addWidget(keep_, 0, 0, 1, 3);
    background->addWidget(typed_, 1, 0);
    auto* typedRow = new QHBoxLayout;
    typedRow->addWidget(a0_);
    typedRow->addWidget(new QLabel(tr("at"), form));
    typedRow->addWidget(wavelength_);
    typedRow->addStretch(1);
    background->addLayout(typedRow, 1, 1);
    background->addWidget(fromBatch_, 2, 0);
    background->addWidget(batch_, 2, 1);
    background->addWidget(batchBackground_, 3, 1);
    background->setColumnStretch(1, 1);
    auto* formLayout = new QFormLayout(form);
    auto* nameLabel = new QLabel(tr("&Lot:"), form);
    nameLabel->setBuddy(name_);
    formLayout->addRow(nameLabel, nameRow);
    formLayout->addRow(tr("Film t&ype:"), type_);
    auto* thicknessLabel = new QLabel(tr("Nominal t&hickness:"), form);
    thicknessLabel->setBuddy(thickness_);
    formLayout->addRow(thicknessLabel, thicknessRow);
    formLayout->addRow(tr("Background A0:"), background);
    formLayout->addRow(tr("N&otes:"), notes_);
    formLayout->addRow(note_);
    auto* storeRow = new QHBoxLayout;
    storeRow->addWidget(storeButton_);
    storeRow->addWidget(done_, 1);
    formLayout->addRow(storeRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plainLabel(tr("The film lots in the store, as they stand. A change never overwrites a lot: it "
                                    "adds a row that supersedes the lot's current one."),
                                 this));
    layout->addWidget(lots_, 1);
    layout->addWidget(form);
    layout->addWidget(buttons);

    connect(lots_, &QTableWidget::itemSelectionChanged, this, [this] {
        const QList<QTableWidgetItem*> chosen = lots_->selectedItems();
        if (!chosen.isEmpty())
            fillForm(lots_->item(chosen.first()->row(), Name)->text());
    });
    connect(newLot, &QPushButton::clicked, this, [this] {
        lots_->clearSelection();
        fillForm(QString());
        name_->setFocus();
    });
    connect(name_, &QLineEdit::textChanged, this, &LotsDialog::showFormState);
    connect(backgroundGroup, &QButtonGroup::buttonToggled, this, &LotsDialog::showFormState);
    connect(batch_, &QComboBox::currentIndexChanged, this, [this] {
        if (batch_->currentIndex() >= 0)
            fromBatch_->setChecked(true);
        showBatchBackground();
    });
    connect(a0_, &QDoubleSpinBox::valueChanged, this, [this] { typed_->setChecked(true); });
    connect(wavelength_, &QSpinBox::valueChanged, this, [this] { typed_->setChecked(true); });
    connect(storeButton_, &QPushButton::clicked, this, [this] { storeLot(); });

    showLots();
    fillForm(QString());
    showBatchBackground();
    resize(1100, 660);
}

void LotsDialog::showLots()
{
    const QList<LotRecord> lots = currentLots(store_);
    lots_->setRowCount(int(lots.size()));
    for (int row = 0; row < lots.size(); ++row) {
        const LotRecord& l = lots[row];
        QStringList backgrounds;
        for (const LotBackground& b : l.backgrounds)
            backgrounds << QStringLiteral("%1: %2").arg(b.wavelength, backgroundText(b));
        QStringList approved;
        for (const CalibrationRecord& c : approvedCalibrations(store_, l.name))
            approved << tr("%1 (%2, reader %3 at %4)").arg(QString::number(c.seq), c.model, c.readerSerial, c.wavelength);
        const QStringList cells{
            l.name,
            l.filmType,
            l.thicknessUMm > 0 ? tr("%1 ± %2 mm").arg(QString::number(l.thicknessMm, 'f', 4), QString::number(l.thicknessUMm, 'f', 4))
                               : tr("%1 mm").arg(QString::number(l.thicknessMm, 'f', 4)),
            backgrounds.isEmpty() ? tr("none yet") : backgrounds.join(QLatin1Char('\n')),
            approved.isEmpty() ? tr("none") : approved.join(QLatin1Char('\n')),
            l.notes,
            tr("%1 by %2 (row %3)").arg(localTime(l.timeUtc), l.operatorName, QString::number(l.seq))};
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(cells[column]);
            lots_->setItem(row, column, item);
        }
    }
    // Long texts wrap within their column rather than push the last ones out of sight.
    lots_->resizeColumnsToContents();
    for (const auto& [column, widest] : {std::pair{int(Type), 160}, std::pair{int(Backgrounds), 260},
                                         std::pair{int(Calibrations), 220}, std::pair{int(Notes), 180}})
        lots_->setColumnWidth(column, std::min(lots_->columnWidth(column), widest));
    lots_->resizeRowsToContents();
}

void LotsDialog::fillForm(const QString& lotName)
{
    const std::optional<LotRecord> lot = lotName.isEmpty() ? std::nullopt : currentLot(store_, lotName);
    name_->setText(lot ? lot->name : QString());
    type_->setText(lot ? lot->filmType : QString());
    thickness_->setValue(lot ? lot->thicknessMm : 0.1);
    thicknessU_->setValue(lot ? lot->thicknessUMm : 0);
    notes_->setText(lot ? lot->notes : QString());
    if (lot && !lot->backgrounds.isEmpty()) {
        const QSignalBlocker quiet(a0_), quietToo(wavelength_);
        a0_->setValue(lot->backgrounds.first().a0);
        wavelength_->setValue(lot->backgrounds.first().wavelength.section(QLatin1Char(' '), 0, 0).toInt());
    }
    keep_->setChecked(true);
    done_->clear();
    showFormState();
}

void LotsDialog::showFormState()
{
    const std::optional<LotRecord> before = currentLot(store_, name_->text().trimmed());
    keep_->setText(before ? tr("&Keep the backgrounds the lot has") : tr("No bac&kground yet (add it later)"));
    storeButton_->setText(before ? tr("&Store the Change") : tr("&Add the Lot"));
    storeButton_->setEnabled(!name_->text().trimmed().isEmpty());
    note_->setText(before ? tr("Lot %1 exists (row %2, %3). Storing adds a row that supersedes it with what the form "
                               "holds; row %2 stays in the store, and calibrations made with it keep naming it.")
                                .arg(before->name, QString::number(before->seq), localTime(before->timeUtc))
                          : tr("A new lot. A background is needed before the lot can be calibrated."));
}

void LotsDialog::showBatchBackground()
{
    fromBatch_->setEnabled(batch_->count() > 0);
    if (batch_->currentIndex() < 0) {
        batchBackground_->setText(batch_->count() > 0 ? tr("Read the lot's unirradiated films as a batch of their own, "
                                                           "then choose it here.")
                                                      : tr("No batch in the store yet: read the lot's unirradiated "
                                                           "films as a batch first."));
        return;
    }
    QString why;
    const std::optional<QList<LotBackground>> backgrounds = backgroundsOf(store_, batch_->currentData().toString(), &why);
    if (!backgrounds) {
        batchBackground_->setText(why);
        return;
    }
    QStringList parts;
    for (const LotBackground& b : *backgrounds)
        parts << QStringLiteral("A0 %1 at %2").arg(backgroundText(b), b.wavelength);
    batchBackground_->setText(parts.join(QStringLiteral("; ")));
}

bool LotsDialog::storeLot()
{
    LotChange change;
    change.name = name_->text();
    change.filmType = type_->text();
    change.thicknessMm = thickness_->value();
    change.thicknessUMm = thicknessU_->value();
    change.notes = notes_->text();
    change.operatorName = operator_;
    QString why;
    if (typed_->isChecked()) {
        const std::optional<LotBackground> b = typedBackground(a0_->value(), QString::number(wavelength_->value()), &why);
        if (!b) {
            showMessage(why);
            return false;
        }
        change.backgrounds << *b;
    } else if (fromBatch_->isChecked()) {
        if (batch_->currentIndex() < 0) {
            showMessage(tr("Choose the batch of unirradiated films the background is the mean of."));
            return false;
        }
        const std::optional<QList<LotBackground>> b = backgroundsOf(store_, batch_->currentData().toString(), &why);
        if (!b) {
            showMessage(tr("The background cannot be taken from that batch: %1").arg(why));
            return false;
        }
        change.backgrounds = *b;
    }
    const std::optional<LotRecord> before = currentLot(store_, change.name.trimmed());
    const std::optional<LotRecord> lot = changedLot(store_, change, &why);
    const std::optional<qint64> seq = lot ? appendLot(store_, *lot, &why) : std::nullopt;
    if (!seq) {
        showMessage(tr("The lot is not stored: %1").arg(why));
        return false;
    }
    showLots();
    for (int row = 0; row < lots_->rowCount(); ++row)
        if (lots_->item(row, Name)->text() == lot->name)
            lots_->selectRow(row);
    done_->setText(before ? tr("Lot %1 changed: row %2 supersedes row %3.")
                                .arg(lot->name, QString::number(*seq), QString::number(before->seq))
                          : tr("Lot %1 added as row %2.").arg(lot->name, QString::number(*seq)));
    return true;
}

} // namespace kalvor::batchwin
