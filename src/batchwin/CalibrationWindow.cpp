#include "batchwin/CalibrationWindow.h"

#include "batch/BatchSession.h"
#include "batch/CalibrationFigures.h"
#include "batch/Lots.h"
#include "batch/StoredBatches.h"
#include "batchwin/ApproveDialog.h"
#include "batchwin/CalibrationPlots.h"
#include "core/MessageSink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

enum StoredColumn { Id, Stored, Model, Reader, Wavelength, Range, Batch, Doses, By, State, Approval, StoredColumns };

QLabel* plainLabel(QWidget* parent, const char* name = nullptr)
{
    auto* l = new QLabel(parent);
    if (name)
        l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

QTableWidget* table(QWidget* parent, const char* name, const QStringList& headings)
{
    auto* t = new QTableWidget(0, int(headings.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setHorizontalHeaderLabels(headings);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 5);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setAlternatingRowColors(true);
    return t;
}

// The height that shows the header and `rows` rows of `t` without scrolling.
int heightForRows(const QTableWidget* t, int rows)
{
    return t->horizontalHeader()->sizeHint().height() + rows * t->verticalHeader()->defaultSectionSize()
           + 2 * t->frameWidth() + 6;
}

void setRow(QTableWidget* t, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (column > 0)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(cells[column]);
        t->setItem(row, column, item);
    }
}

QString localTime(const QString& utc)
{
    const QDateTime t = QDateTime::fromString(utc, Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : utc;
}

QString named(const QStringList& ids)
{
    const QStringList shown = ids.mid(0, 20);
    return shown.join(QStringLiteral(", ")) + (ids.size() > shown.size() ? QStringLiteral(", ...") : QString());
}

} // namespace

CalibrationWindow::CalibrationWindow(RecordStore& store, const QString& operatorName, QWidget* parent)
    : QMainWindow(parent), store_(store), operator_(operatorName)
{
    setWindowTitle(tr("Calibration of a film lot"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* central = new QWidget(this);

    // What the calibration is made from.
    lot_ = new QComboBox(central);
    lot_->setObjectName(QStringLiteral("lot"));
    lot_->setPlaceholderText(tr("no lots yet: File > Lots"));
    lot_->setMinimumContentsLength(14);
    lot_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    batch_ = new QComboBox(central);
    batch_->setObjectName(QStringLiteral("batch"));
    batch_->setPlaceholderText(tr("choose the batch of calibration films"));
    batch_->setMinimumContentsLength(36);
    batch_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    doses_ = new QLineEdit(central);
    doses_->setObjectName(QStringLiteral("dosesFile"));
    doses_->setReadOnly(true);
    doses_->setPlaceholderText(tr("CSV file with columns id and dose_kGy (or dose_Gy)"));
    auto* browse = new QPushButton(tr("L&oad..."), central);
    model_ = new QComboBox(central);
    model_->setObjectName(QStringLiteral("model"));
    for (const QString& name : calib::Model::names())
        model_->addItem(name, name);
    model_->setCurrentIndex(int(calib::Model::names().indexOf(QStringLiteral("exp"))));
    throughZero_ = new QCheckBox(tr("&Through zero"), central);
    throughZero_->setObjectName(QStringLiteral("throughZero"));
    referenceU_ = new QDoubleSpinBox(central);
    referenceU_->setObjectName(QStringLiteral("referenceU"));
    referenceU_->setRange(0, 50);
    referenceU_->setDecimals(2);
    referenceU_->setSingleStep(0.1);
    referenceU_->setSuffix(tr(" %"));
    referenceU_->setToolTip(tr("The reference doses' relative standard uncertainty (k = 1), as the irradiation "
                               "facility states it"));
    readWindow_ = new QLineEdit(central);
    readWindow_->setObjectName(QStringLiteral("readWindow"));
    readWindow_->setPlaceholderText(tr("optional, e.g. 1h..7d"));
    readWindow_->setToolTip(tr("The time after irradiation the calibration holds for (units s, min, h, d)"));

    // Captions with their shortcuts (fixed texts: no user text goes into them).
    auto caption = [central](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, central);
        l->setBuddy(buddy);
        return l;
    };
    auto* inputs = new QGridLayout;
    inputs->addWidget(caption(tr("&Lot:"), lot_), 0, 0);
    inputs->addWidget(lot_, 0, 1);
    inputs->addWidget(caption(tr("Calibration &batch:"), batch_), 0, 2);
    inputs->addWidget(batch_, 0, 3, 1, 2);
    inputs->addWidget(caption(tr("&Model:"), model_), 1, 0);
    auto* modelRow = new QHBoxLayout;
    modelRow->addWidget(model_, 1);
    modelRow->addWidget(throughZero_);
    inputs->addLayout(modelRow, 1, 1);
    inputs->addWidget(caption(tr("&Doses file:"), browse), 1, 2);
    inputs->addWidget(doses_, 1, 3);
    inputs->addWidget(browse, 1, 4);
    inputs->addWidget(caption(tr("Reference doses' &u (k = 1):"), referenceU_), 2, 0);
    inputs->addWidget(referenceU_, 2, 1);
    inputs->addWidget(caption(tr("Read &window:"), readWindow_), 2, 2);
    inputs->addWidget(readWindow_, 2, 3, 1, 2);
    inputs->setColumnStretch(3, 1);

    source_ = plainLabel(central, "source");
    unmatched_ = plainLabel(central, "unmatched");
    unmatched_->setStyleSheet(QStringLiteral("color:#a05000"));
    refusal_ = plainLabel(central, "refusal");
    refusal_->setStyleSheet(QStringLiteral("color:#c02020; font-weight:bold"));

    // The curve and, below it, the residuals.
    plots_ = new CalibrationPlots(central);
    plots_->setObjectName(QStringLiteral("plots"));

    // The fit's figures and the comparison of models.
    auto* fitBox = new QGroupBox(tr("Fit"), central);
    formula_ = plainLabel(fitBox, "formula");
    formula_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    parameters_ = table(fitBox, "parameters", {tr("Parameter"), tr("Value"), tr("u"), tr("u (%)")});
    parameters_->setSelectionMode(QAbstractItemView::NoSelection);
    parameters_->setFixedHeight(heightForRows(parameters_, 5));  // poly4 has the most parameters
    parameters_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    statistics_ = new QFormLayout;
    auto* fitLayout = new QVBoxLayout(fitBox);
    fitLayout->addWidget(formula_);
    fitLayout->addWidget(parameters_);
    fitLayout->addLayout(statistics_);
    fitLayout->addStretch(1);

    auto* compareBox = new QGroupBox(tr("Every model on these films (choose a row to fit that model)"), central);
    compare_ = table(compareBox, "comparison", comparisonHeadings());
    compare_->setMinimumHeight(heightForRows(compare_, 12));  // every model, each also through zero
    // A refusal's reason is cut to the column; the whole of it is its tooltip.
    compare_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    compare_->horizontalHeader()->setSectionResizeMode(int(comparisonHeadings().size()) - 1, QHeaderView::Stretch);
    auto* compareNote = plainLabel(compareBox);
    compareNote->setText(tr("* the lowest AIC: the model the points favour once its parameters are paid for. "
                            "Lack of fit p below 0.05: the curve misses the replicates' means."));
    compareNote->setStyleSheet(QStringLiteral("color:#505050"));
    auto* compareLayout = new QVBoxLayout(compareBox);
    compareLayout->addWidget(compare_, 1);
    compareLayout->addWidget(compareNote);

    auto* figures = new QWidget(central);
    auto* figuresLayout = new QVBoxLayout(figures);
    figuresLayout->setContentsMargins(0, 0, 0, 0);
    figuresLayout->addWidget(fitBox);
    figuresLayout->addWidget(compareBox, 1);

    auto* middle = new QSplitter(Qt::Horizontal, central);
    middle->addWidget(plots_);
    middle->addWidget(figures);
    middle->setStretchFactor(0, 1);
    middle->setStretchFactor(1, 1);
    middle->setSizes({600, 600});

    // The lot's stored calibrations.
    auto* storedBox = new QGroupBox(central);
    storedBox->setTitle(tr("Stored calibrations of the lot"));
    stored_ = table(storedBox, "stored",
                    {tr("ID"), tr("Stored"), tr("Model"), tr("Reader"), tr("Wavelength"), tr("Range (kGy)"), tr("Batch"),
                     tr("Doses file"), tr("By"), tr("State"), tr("Approval")});
    storeButton_ = new QPushButton(tr("&Store as Draft"), storedBox);
    storeButton_->setObjectName(QStringLiteral("storeDraft"));
    approveButton_ = new QPushButton(tr("&Approve..."), storedBox);
    approveButton_->setObjectName(QStringLiteral("approve"));
    storedText_ = plainLabel(storedBox, "storedText");
    auto* storedButtons = new QHBoxLayout;
    storedButtons->addWidget(storeButton_);
    storedButtons->addWidget(approveButton_);
    storedButtons->addWidget(storedText_, 1);
    auto* storedLayout = new QVBoxLayout(storedBox);
    stored_->setMinimumHeight(heightForRows(stored_, 4));
    storedLayout->addWidget(stored_, 1);
    storedLayout->addLayout(storedButtons);

    auto* all = new QSplitter(Qt::Vertical, central);
    all->addWidget(middle);
    all->addWidget(storedBox);
    all->setStretchFactor(0, 1);
    all->setStretchFactor(1, 0);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(inputs);
    layout->addWidget(source_);
    layout->addWidget(unmatched_);
    layout->addWidget(refusal_);
    layout->addWidget(all, 1);
    setCentralWidget(central);

    connect(lot_, &QComboBox::currentIndexChanged, this, [this] {
        prepare();
        showStored();
    });
    connect(batch_, &QComboBox::currentIndexChanged, this, &CalibrationWindow::prepare);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("The reference doses"), doses_->text(),
                                                          tr("CSV files (*.csv);;All files (*)"));
        if (!path.isEmpty())
            loadDoses(path);
    });
    connect(model_, &QComboBox::currentIndexChanged, this, &CalibrationWindow::refit);
    connect(throughZero_, &QCheckBox::toggled, this, &CalibrationWindow::refit);
    connect(referenceU_, &QDoubleSpinBox::valueChanged, this, [this] { storedId_.reset(); });
    connect(readWindow_, &QLineEdit::textChanged, this, [this] { storedId_.reset(); });
    connect(compare_, &QTableWidget::itemSelectionChanged, this, [this] {
        const QList<QTableWidgetItem*> chosen = compare_->selectedItems();
        if (chosen.isEmpty() || chosen.first()->row() >= int(comparison_.size()))
            return;
        const calib::Model& m = comparison_[size_t(chosen.first()->row())].model;
        {
            const QSignalBlocker a(model_), b(throughZero_);
            model_->setCurrentIndex(model_->findData(m.name()));
            throughZero_->setChecked(m.throughZero());
        }
        refit();
    });
    connect(stored_, &QTableWidget::itemSelectionChanged, this, [this] {
        const std::optional<StoredCalibration> s = chosenStored();
        approveButton_->setEnabled(s && s->state == CalibrationState::Draft);
    });
    connect(stored_, &QTableWidget::itemDoubleClicked, this, [this] { approveChosen(); });
    connect(storeButton_, &QPushButton::clicked, this, [this] { storeDraft(); });
    connect(approveButton_, &QPushButton::clicked, this, &CalibrationWindow::approveChosen);

    fillLots();
    fillBatches();
    prepare();
    showStored();
    resize(1240, 900);
}

void CalibrationWindow::reloadChoices()
{
    fillLots();
    fillBatches();
}

void CalibrationWindow::fillLots()
{
    const QString chosen = lot_->currentText();
    const QSignalBlocker quiet(lot_);
    lot_->clear();
    for (const LotRecord& l : currentLots(store_))
        lot_->addItem(l.name);
    lot_->setCurrentIndex(lot_->findText(chosen));
}

void CalibrationWindow::fillBatches()
{
    const QString chosen = batch_->currentData().toString();
    const QSignalBlocker quiet(batch_);
    batch_->clear();
    for (const StoredBatch& b : storedBatches(store_))
        batch_->addItem(batchChoiceText(b), b.batch.name);
    batch_->setCurrentIndex(chosen.isEmpty() ? -1 : batch_->findData(chosen));
}

void CalibrationWindow::chooseLot(const QString& lot) { lot_->setCurrentIndex(lot_->findText(lot)); }

void CalibrationWindow::chooseBatch(const QString& batch) { batch_->setCurrentIndex(batch_->findData(batch)); }

void CalibrationWindow::loadDoses(const QString& path)
{
    doses_->setText(path);
    doses_->setToolTip(path);
    prepare();
}

CalibrationRequest CalibrationWindow::request() const
{
    CalibrationRequest r;
    r.lot = lot_->currentText();
    r.batch = batch_->currentData().toString();
    r.dosesFile = doses_->text();
    r.model = model_->currentData().toString();
    r.throughZero = throughZero_->isChecked();
    r.referenceU = referenceU_->value() / 100.0;
    r.readWindow = readWindow_->text().trimmed();
    return r;
}

void CalibrationWindow::prepare()
{
    draft_.reset();
    comparison_.clear();
    storedId_.reset();
    storedText_->clear();
    unmatched_->clear();
    refusal_->clear();
    if (lot_->currentIndex() < 0 || batch_->currentIndex() < 0 || doses_->text().isEmpty()) {
        source_->setText(tr("Choose the lot, the batch of calibration films and the file of their reference doses."));
    } else {
        CalibrationRequest r = request();
        r.readWindow.clear();  // checked when the draft is stored
        QString why;
        draft_ = prepareCalibration(store_, r, &why);
        if (!draft_) {
            source_->clear();
            refusal_->setText(tr("No calibration can be made: %1").arg(why));
        } else {
            const CalibrationDraft& d = *draft_;
            const std::optional<LotBackground> background = d.lot.background(d.wavelength);
            source_->setText(tr("Reader %1 at %2 · A0 %3 · lot thickness %4 mm · %5 films with a dose")
                                 .arg(d.readerSerial, d.wavelength, background ? backgroundText(*background) : QString::number(d.a0, 'f', 4),
                                      QString::number(d.lot.thicknessMm, 'f', 4), QString::number(d.films.size())));
            QStringList left;
            if (!d.filmsWithoutDose.isEmpty())
                left << tr("Films of %1 without a dose (left out): %2.").arg(d.batch.name, named(d.filmsWithoutDose));
            if (!d.dosesWithoutFilm.isEmpty())
                left << tr("Doses without a film in %1 (left out): %2.").arg(d.batch.name, named(d.dosesWithoutFilm));
            unmatched_->setText(left.join(QLatin1Char('\n')));
            comparison_ = calib::compareModels(calibrationPoints(d), true);
        }
    }
    unmatched_->setVisible(!unmatched_->text().isEmpty());
    source_->setVisible(!source_->text().isEmpty());
    showComparison();
    showFit();
    plots_->showDraft(draft_ ? &*draft_ : nullptr);
}

void CalibrationWindow::refit()
{
    storedId_.reset();
    storedText_->clear();
    const std::optional<calib::Model> m = calib::Model::parse(model_->currentData().toString(), throughZero_->isChecked());
    if (!draft_ || !m)
        return;
    refitCalibration(*draft_, *m);
    showComparison();
    showFit();
    plots_->showDraft(draft_ ? &*draft_ : nullptr);
}

void CalibrationWindow::showFit()
{
    const calib::Calibration* c = draft_ && draft_->fit.ok() ? &*draft_->fit.calibration : nullptr;
    if (draft_ && !c)
        refusal_->setText(tr("The fit of %1%2 is refused: %3")
                              .arg(model_->currentText(), throughZero_->isChecked() ? tr(" through zero") : QString(),
                                   draft_->fit.refusal));
    else if (draft_)
        refusal_->clear();
    refusal_->setVisible(!refusal_->text().isEmpty());
    formula_->setText(c ? tr("%1: %2").arg(c->model.description(), c->model.formula())
                        : tr("No fit to show."));
    const QList<ParameterFigure> parameters = c ? parameterFigures(*c) : QList<ParameterFigure>{};
    parameters_->setRowCount(int(parameters.size()));
    for (int row = 0; row < parameters.size(); ++row) {
        const ParameterFigure& p = parameters[row];
        setRow(parameters_, row, {p.name, p.value, p.u, p.relativeU});
    }
    while (statistics_->rowCount() > 0)
        statistics_->removeRow(0);
    if (c)
        for (const auto& [name, value] : fitStatistics(*c)) {
            auto* v = plainLabel(this);
            v->setText(value);
            v->setTextInteractionFlags(Qt::TextSelectableByMouse);
            auto* n = plainLabel(this);
            n->setText(name + QLatin1Char(':'));
            n->setWordWrap(false);
            statistics_->addRow(n, v);
        }
    storeButton_->setEnabled(c != nullptr);
}

void CalibrationWindow::showComparison()
{
    const QList<QStringList> cells = comparisonCells(comparison_);
    const QSignalBlocker quiet(compare_);
    compare_->clearSelection();
    compare_->setRowCount(int(cells.size()));
    for (int row = 0; row < cells.size(); ++row)
        setRow(compare_, row, cells[row]);
    for (int row = 0; row < int(comparison_.size()); ++row) {
        const calib::Model& m = comparison_[size_t(row)].model;
        if (m.name() == model_->currentData().toString() && m.throughZero() == throughZero_->isChecked())
            compare_->selectRow(row);
        if (!comparison_[size_t(row)].refusal.isEmpty())
            compare_->item(row, int(cells[row].size()) - 1)->setForeground(QColor(0xc0, 0x20, 0x20));
    }
}

void CalibrationWindow::showStored(std::optional<qint64> choose)
{
    storedList_ = lot_->currentIndex() < 0 ? QList<StoredCalibration>{} : storedCalibrations(store_, lot_->currentText());
    const QSignalBlocker quiet(stored_);
    stored_->clearSelection();
    stored_->setRowCount(int(storedList_.size()));
    for (int row = 0; row < storedList_.size(); ++row) {
        const StoredCalibration& s = storedList_[row];
        const CalibrationRecord& c = s.record;
        const std::optional<BatchRecord> batch = c.batch ? store_.batch(*c.batch) : std::nullopt;
        QString approval;
        if (s.approval)
            approval = tr("%1 (%2), %3: %4")
                           .arg(s.approval->approverName, s.approval->approverLogin, localTime(s.approval->timeUtc),
                                s.approval->reason);
        if (s.supersededBy)
            approval += tr("; superseded by %1").arg(*s.supersededBy);
        setRow(stored_, row,
               {QString::number(c.seq), localTime(c.timeUtc), c.model + (c.throughZero ? tr(" through zero") : QString()),
                c.readerSerial, c.wavelength,
                tr("%1 to %2").arg(QString::number(c.rangeMin, 'g', 6), QString::number(c.rangeMax, 'g', 6)),
                batch ? batch->name : QString(), c.dosesFile, c.operatorName, stateText(s.state), approval});
        for (int column = 1; column < StoredColumns; ++column)
            stored_->item(row, column)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        stored_->item(row, State)->setForeground(s.state == CalibrationState::Approved     ? QColor(0x1a, 0x8f, 0x3a)
                                                 : s.state == CalibrationState::Superseded ? QColor(0x80, 0x80, 0x80)
                                                                                           : QColor(0xa0, 0x50, 0x00));
        if (choose && c.seq == *choose)
            stored_->selectRow(row);
    }
    if (const QList<QTableWidgetItem*> chosen = stored_->selectedItems(); !chosen.isEmpty())
        stored_->scrollToItem(chosen.first());
    const std::optional<StoredCalibration> s = chosenStored();
    approveButton_->setEnabled(s && s->state == CalibrationState::Draft);
}

std::optional<StoredCalibration> CalibrationWindow::chosenStored() const
{
    const QList<QTableWidgetItem*> chosen = stored_->selectedItems();
    if (chosen.isEmpty() || chosen.first()->row() >= storedList_.size())
        return std::nullopt;
    return storedList_[chosen.first()->row()];
}

std::optional<qint64> CalibrationWindow::storeDraft()
{
    if (!draft_ || !draft_->fit.ok()) {
        showMessage(tr("There is no fit to store: choose the lot, the batch and the doses file, and a model that fits."));
        return std::nullopt;
    }
    if (storedId_) {
        showMessage(tr("This fit is stored already, as calibration %1.").arg(*storedId_));
        return std::nullopt;
    }
    const CalibrationRequest r = request();
    if (!r.readWindow.isEmpty() && !parseReadWindow(r.readWindow)) {
        showMessage(tr("The read window %1 is not of the form 1h..7d (units s, min, h, d).").arg(r.readWindow));
        return std::nullopt;
    }
    QString why;
    const std::optional<qint64> id = storeCalibration(store_, *draft_, r, operator_, &why);
    if (!id) {
        showMessage(tr("The calibration is not stored: %1").arg(why));
        return std::nullopt;
    }
    storedId_ = id;
    storedText_->setText(tr("Stored as calibration %1, a draft: it gives doses once approved.").arg(*id));
    showStored(id);
    return id;
}

void CalibrationWindow::approveChosen()
{
    const std::optional<StoredCalibration> s = chosenStored();
    if (!s) {
        showMessage(tr("Choose the calibration to approve in the list of stored calibrations."));
        return;
    }
    const CalibrationRecord& c = s->record;
    if (s->state != CalibrationState::Draft) {
        showMessage(tr("Calibration %1 is %2 already.").arg(QString::number(c.seq), stateText(s->state)));
        return;
    }
    const QString what = tr("Calibration %1 of lot %2: %3. Stored %4 by %5. Once approved, it gives the doses of the "
                            "lot's films read with reader %6 at %7.")
                             .arg(QString::number(c.seq), c.lot, calibrationSummary(c), localTime(c.timeUtc), c.operatorName,
                                  c.readerSerial, c.wavelength);
    QString supersedes;
    if (const std::optional<CalibrationRecord> before = approvedCalibration(store_, c.lot, c.readerSerial, c.wavelength)) {
        const QList<ApprovalRecord> approved = approvals(store_, before->seq);
        supersedes = tr("It supersedes calibration %1 (%2), approved %3 by %4, which then gives no more doses.")
                         .arg(QString::number(before->seq), before->model,
                              approved.isEmpty() ? QString() : localTime(approved.last().timeUtc),
                              approved.isEmpty() ? QString() : approved.last().approverName);
    }
    ApproveDialog dialog(c.seq, what, supersedes, BatchSession::loginName(), operator_, this);
    while (dialog.exec() == QDialog::Accepted) {
        QString why;
        if (approveCalibration(store_, c.seq, dialog.approverName(), dialog.reason(), &why)) {
            storedText_->setText(tr("Calibration %1 approved: it gives the doses of lot %2 read with reader %3 at %4.")
                                     .arg(QString::number(c.seq), c.lot, c.readerSerial, c.wavelength));
            showStored(c.seq);
            return;
        }
        showMessage(tr("The calibration is not approved: %1").arg(why));
    }
}

} // namespace kalvor::batchwin
