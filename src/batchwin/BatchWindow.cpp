#include "batchwin/BatchWindow.h"

#include "batch/BatchSettings.h"
#include "records/CsvExport.h"
#include "records/RecordStore.h"
#include "batch/DoseAssessment.h"
#include "records/Calibrations.h"
#include "batchwin/BatchDialog.h"
#include "batchwin/CalibrationWindow.h"
#include "batchwin/IdListEditor.h"
#include "batchwin/QualityControlWindow.h"
#include "batchwin/ReferenceFiltersDialog.h"
#include "batch/QualityControl.h"
#include "batchwin/LotsDialog.h"
#include "batchwin/ReasonDialog.h"
#include "batchwin/StripChart.h"
#include "core/MessageSink.h"
#include "report/IssueReport.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QComboBox>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

// User text (IDs, names, lots) shows as it is, never as markup.
QLabel* label(QWidget* parent, const char* name, double scale = 1.0, bool bold = false)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    QFont f = l->font();
    if (scale != 1.0)
        f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    l->setFont(f);
    return l;
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

QString colored(const QString& text, const char* color)
{
    return QStringLiteral("<span style=\"color:%1\">%2</span>").arg(QLatin1String(color), text.toHtmlEscaped());
}

} // namespace

BatchWindow::BatchWindow(BatchSession& session, QWidget* parent) : QMainWindow(parent), session_(session)
{
    setWindowTitle(tr("KALVOR batch reading"));
    auto* central = new QWidget(this);

    linkDot_ = label(central, "linkDot", 1.4);
    linkDot_->setTextFormat(Qt::RichText);
    linkText_ = label(central, "linkState");
    readerText_ = label(central, "reader");
    readerText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    batchText_ = label(central, "batch", 1.15, true);
    reading_ = label(central, "absorbance", 4.0, true);
    reading_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    reading_->setMinimumWidth(reading_->fontMetrics().horizontalAdvance(QStringLiteral("-0.000 ")));
    dose_ = label(central, "dose", 1.8, true);
    dose_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    decision_ = label(central, "decision", 1.5, true);
    decision_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status_ = label(central, "status", 1.3, true);
    status_->setAlignment(Qt::AlignRight);
    status_->setTextFormat(Qt::RichText);
    capture_ = label(central, "capture", 1.2);
    capture_->setWordWrap(true);
    capture_->setMinimumHeight(capture_->fontMetrics().height() * 3);
    capture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    wavelengthWarning_ = label(central, "wavelengthWarning", 1.0, true);
    wavelengthWarning_->setStyleSheet(QStringLiteral("color:#a05000"));
    wavelengthWarning_->hide();
    nextId_ = label(central, "nextId", 2.0, true);
    scan_ = new QLineEdit(central);
    scan_->setObjectName(QStringLiteral("scan"));
    scan_->setPlaceholderText(tr("Scan or type the next film's ID, then Enter"));
    scan_->setClearButtonEnabled(true);
    captureButton_ = new QPushButton(tr("&Capture (F5)"), central);
    captureButton_->setObjectName(QStringLiteral("captureButton"));
    chart_ = new StripChart(central);
    chart_->setObjectName(QStringLiteral("chart"));
    chart_->setHistory(&session_.history());
    attention_ = new QFrame(central);
    attention_->setObjectName(QStringLiteral("attention"));
    attention_->setFrameShape(QFrame::StyledPanel);
    attention_->setStyleSheet(QStringLiteral("#attention { border: 2px solid #c02020; background: #fff4f0; }"));
    attentionText_ = label(attention_, "attentionText", 1.6, true);
    attentionText_->setWordWrap(true);
    attentionText_->setStyleSheet(QStringLiteral("color:#a01010"));
    readAgainButton_ = new QPushButton(attention_);
    readAgainButton_->setObjectName(QStringLiteral("readAgain"));
    voidButton_ = new QPushButton(attention_);
    voidButton_->setObjectName(QStringLiteral("voidRefused"));
    zeroButton_ = new QPushButton(tr("&Zero the Reader"), attention_);
    zeroButton_->setObjectName(QStringLiteral("zeroReader"));
    {
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(readAgainButton_);
        buttons->addWidget(voidButton_);
        buttons->addWidget(zeroButton_);
        buttons->addStretch(1);
        auto* box = new QVBoxLayout(attention_);
        box->addWidget(attentionText_);
        box->addLayout(buttons);
    }
    attention_->hide();
    table_ = new QTableView(central);
    table_->setObjectName(QStringLiteral("records"));
    table_->setModel(&records_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setAlternatingRowColors(true);

    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(linkDot_);
    linkRow->addWidget(linkText_, 1);
    linkRow->addWidget(readerText_);

    auto* now = new QGridLayout;
    now->addWidget(reading_, 0, 0, 2, 1);
    now->addWidget(status_, 2, 0);
    now->addWidget(dose_, 3, 0);
    now->addWidget(decision_, 4, 0);
    nextLabel_ = new QLabel(tr("Next film:"), central);
    now->addWidget(nextLabel_, 0, 1, Qt::AlignBottom);
    now->addWidget(nextId_, 1, 1, Qt::AlignTop);
    now->addWidget(capture_, 2, 1, 2, 2);
    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(scan_, 1);
    scanRow->addWidget(captureButton_);
    now->addLayout(scanRow, 5, 0, 1, 3);
    now->setColumnStretch(1, 1);
    now->setHorizontalSpacing(24);

    auto* top = new QHBoxLayout;
    top->addLayout(now, 1);
    top->addWidget(chart_, 1);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(linkRow);
    layout->addWidget(batchText_);
    layout->addWidget(wavelengthWarning_);
    layout->addWidget(attention_);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    setCentralWidget(central);
    buildMenus();

    connect(captureButton_, &QPushButton::clicked, this, &BatchWindow::captureNow);
    connect(scan_, &QLineEdit::returnPressed, this, [this] {
        const QString id = scan_->text().trimmed();
        if (!id.isEmpty())
            scanned(id);
    });
    connect(readAgainButton_, &QPushButton::clicked, this, [this] { session_.readRefusedAgain(); });
    connect(voidButton_, &QPushButton::clicked, this, [this] { voidId(session_.attention().refusedId); });
    connect(zeroButton_, &QPushButton::clicked, this, [this] { session_.zeroReader(); });
    connect(&session_, &BatchSession::attentionChanged, this, &BatchWindow::showAttention);
    connect(table_, &QTableView::doubleClicked, this, [this] { correctSelected(); });

    connect(&session_, &BatchSession::linkStateChanged, this, &BatchWindow::showLink);
    connect(&session_, &BatchSession::readerChanged, this, &BatchWindow::showReader);
    connect(&session_, &BatchSession::readingArrived, this, &BatchWindow::showReading);
    connect(&session_, &BatchSession::batchChanged, this, &BatchWindow::showBatch);
    connect(&session_, &BatchSession::nextIdChanged, this, &BatchWindow::showNextId);
    connect(&session_, &BatchSession::captureStateChanged, this, [this](CaptureState state) {
        // A refusal stays on screen until the next film is read.
        if (state == CaptureState::Settling)
            refusal_.clear();
        if (state != CaptureState::Held)
            lastStored_.clear();
        showNextId();
        showCapture();
        updateBand();
    });
    connect(&session_, &BatchSession::recordStored, this, [this](const ReadingRecord& r) {
        records_.setDoses(session_.doses());
        records_.append(r);
        table_->scrollToBottom();
        if (!r.corrects)
            lastStored_ = tr("Stored %1: %2 (spread %3, %4 readings).")
                              .arg(r.dosimeterId, r.shown.trimmed(), QString::number(r.spread, 'f', 4))
                              .arg(r.count);
        showBatch();
        showCapture();
    });
    connect(&session_, &BatchSession::refused, this, [this](const QString& id, const QString& reason) {
        refusal_ = id.isEmpty() ? tr("Not stored: %1.").arg(reason) : tr("Not stored %1: %2.").arg(id, reason);
        showCapture();
    });
    connect(&session_, &BatchSession::wavelengthChanged, this, [this] { showBatch(); });
    connect(&session_, &BatchSession::filterCheckStored, this, [this](const FilterCheckRecord& f) {
        const JudgedCheck judged = judgeCheck(referenceSets(session_.store()), f);
        statusBar()->showMessage(tr("Filter check recorded: %1").arg(judgementText(judged)), judged.judged() && !*judged.within ? 0 : 15000);
    });
    connect(&session_, &BatchSession::problem, this, [this](const QString& text) { statusBar()->showMessage(text, 30000); });

    showLink(session_.link().state(), session_.link().stateText());
    showReader();
    showBatch();
    status_->setText(QStringLiteral(" "));
    reading_->setText(QStringLiteral("-"));
    resize(1000, 680);
}

void BatchWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* newBatch = file->addAction(tr("&New Batch..."), this, [this] { this->newBatch(); });
    newBatch->setShortcut(QKeySequence::New);
    QAction* close = file->addAction(tr("C&lose Batch"), this, [this] {
        QString why;
        if (!session_.closeBatch(&why))
            showMessage(why);
    });
    close->setObjectName(QStringLiteral("closeBatch"));
    file->addSeparator();
    QAction* exportAction = file->addAction(tr("&Export CSV..."), this, &BatchWindow::exportCsv);
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QAction* reportAction = file->addAction(tr("&Report..."), this, &BatchWindow::report);
    reportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    file->addSeparator();
    QAction* qc = file->addAction(tr("Quality &Control..."), this, &BatchWindow::showQualityControl);
    qc->setObjectName(QStringLiteral("qualityControlAction"));
    QAction* references = file->addAction(tr("Re&ference Filters..."), this, &BatchWindow::editReferenceFilters);
    references->setObjectName(QStringLiteral("referenceFiltersAction"));
    file->addSeparator();
    file->addAction(tr("Lo&ts..."), this, &BatchWindow::showLots)->setObjectName(QStringLiteral("lotsAction"));
    file->addAction(tr("C&alibration..."), this, &BatchWindow::showCalibration)->setObjectName(QStringLiteral("calibrationAction"));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* batchMenu = menuBar()->addMenu(tr("&Batch"));
    QAction* capture = batchMenu->addAction(tr("&Capture"), this, &BatchWindow::captureNow);
    capture->setShortcut(QKeySequence(Qt::Key_F5));
    capture->setObjectName(QStringLiteral("captureAction"));
    QAction* ids = batchMenu->addAction(tr("Dosimeter &IDs..."), this, &BatchWindow::editIds);
    ids->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    batchMenu->addAction(tr("C&orrect ID of Selected Record..."), this, &BatchWindow::correctSelected);
    batchMenu->addAction(tr("&Void an ID..."), this, [this] { voidId(); });
    batchMenu->addSeparator();
    batchMenu->addAction(tr("&Zero the Reader"), this, [this] { session_.zeroReader(); });
    batchMenu->addSeparator();
    batchMenu->addAction(tr("&Stability Rule..."), this, &BatchWindow::editRule);
}

bool BatchWindow::newBatch(const BatchOptions& preset)
{
    BatchDialog dialog(this);
    dialog.setOptions(preset);
    while (dialog.exec() == QDialog::Accepted) {
        QString why;
        if (session_.openBatch(dialog.options(), &why))
            return true;
        showMessage(why);
    }
    return false;
}

void BatchWindow::editIds()
{
    if (!session_.hasBatch()) {
        showMessage(tr("Open a batch first (File > New Batch)."));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Dosimeter IDs of %1").arg(session_.batch().name));
    auto* editor = new IdListEditor(&dialog);
    editor->setEntries(session_.idPlan().entries());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(editor);
    layout->addWidget(buttons);
    dialog.resize(360, 480);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString why;
    if (!session_.setIdList(editor->entries(), &why))
        showMessage(why);
    showBatch();
}

void BatchWindow::showLots()
{
    // A typed background is offered at the reader's wavelength ("510 nm").
    const int nm = session_.reader().wavelength.section(QLatin1Char(' '), 0, 0).toInt();
    LotsDialog dialog(session_.store(), session_.operatorName(), nm > 0 ? nm : 510, this);
    dialog.exec();
    if (calibration_)
        calibration_->reloadChoices();
}

CalibrationWindow* BatchWindow::showCalibration()
{
    if (!calibration_) {
        calibration_ = new CalibrationWindow(session_.store(), session_.operatorName(), this);
        // The open batch is the usual calibration batch, of its lot.
        if (session_.hasBatch()) {
            calibration_->chooseLot(session_.batch().lot);
            calibration_->chooseBatch(session_.batch().name);
        }
    } else {
        calibration_->reloadChoices();
    }
    calibration_->show();
    calibration_->raise();
    calibration_->activateWindow();
    return calibration_;
}

void BatchWindow::exportCsv()
{
    if (!session_.hasBatch()) {
        showMessage(tr("Open a batch first; a time range is exported with kalvor-batch export."));
        return;
    }
    QString name = session_.batch().name;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the batch as CSV"), name + QStringLiteral(".csv"),
                                                      tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    ExportSelection selection;
    selection.batchName = session_.batch().name;
    QString why;
    const std::optional<int> rows = exportReadingsCsv(session_.store(), selection, path, session_.operatorName(), &why);
    if (!rows)
        showMessage(tr("The export failed: %1").arg(why));
    else
        statusBar()->showMessage(tr("%n readings written to %1", nullptr, *rows).arg(path), 15000);
}

void BatchWindow::report()
{
    if (!session_.hasBatch()) {
        showMessage(tr("Open a batch first; any batch is reported with kalvor-batch report."));
        return;
    }
    QString name = session_.batch().name;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    const QString path = QFileDialog::getSaveFileName(this, tr("Report of the batch"), name + QStringLiteral(".pdf"),
                                                      tr("PDF files (*.pdf)"));
    if (!path.isEmpty())
        reportTo(path);
}

bool BatchWindow::reportTo(const QString& path)
{
    QString why;
    const std::optional<report::WrittenReport> written =
        report::issueReport(session_.store(), session_.batch().name, path,
                            {BatchSettings::labName(), BatchSettings::labAddress()}, session_.operatorName(), &why);
    if (!written) {
        showMessage(tr("The report failed: %1").arg(why));
        return false;
    }
    statusBar()->showMessage(tr("Report of %1 written to %2 and recorded").arg(counted(written->pages, tr("page")), path), 15000);
    return true;
}

void BatchWindow::editReferenceFilters()
{
    ReferenceFiltersDialog dialog(session_, this);
    dialog.exec();
    if (qualityControl_)
        qualityControl_->refresh();
}

void BatchWindow::showQualityControl()
{
    if (!qualityControl_)
        qualityControl_ = new QualityControlWindow(session_, this);
    else
        qualityControl_->refresh();
    qualityControl_->show();
    qualityControl_->raise();
    qualityControl_->activateWindow();
}

void BatchWindow::editRule()
{
    const StabilityRule rule = session_.rule();
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Stability rule"));
    auto* count = new QSpinBox(&dialog);
    count->setRange(2, 20);
    count->setValue(rule.count);
    auto* band = new QDoubleSpinBox(&dialog);
    band->setDecimals(4);
    band->setRange(0.0001, 1.0);
    band->setSingleStep(0.0005);
    band->setValue(rule.band);
    auto* timeout = new QSpinBox(&dialog);
    timeout->setRange(1, 600);
    timeout->setSuffix(tr(" s"));
    timeout->setValue(rule.timeoutMs / 1000);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(tr("Readings that must agree:"), count);
    form->addRow(tr("Each within ± (absorbance):"), band);
    form->addRow(tr("Refuse a film not stable after:"), timeout);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const StabilityRule chosen{count->value(), band->value(), timeout->value() * 1000};
    session_.setRule(chosen);
    BatchSettings::setRule(chosen);
    updateBand();
    showCapture();
}

void BatchWindow::correctSelected()
{
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        showMessage(tr("Select the record whose dosimeter ID is wrong."));
        return;
    }
    const ReadingRecord& r = records_.record(rows.first().row());
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Correct the dosimeter ID"));
    auto* question = new QLabel(tr("Record %1 (%2, %3) belongs to dosimeter:").arg(r.seq).arg(r.dosimeterId, r.shown.trimmed()), &dialog);
    question->setTextFormat(Qt::PlainText);
    auto* id = new QLineEdit(r.dosimeterId, &dialog);
    id->setObjectName(QStringLiteral("correctedId"));
    id->setMaxLength(64);
    auto* reason = new QLineEdit(&dialog);
    reason->setObjectName(QStringLiteral("reason"));
    reason->setMaxLength(kMaxReasonLength);
    reason->setPlaceholderText(tr("e.g. films swapped at the head, label misread"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(question);
    form->addRow(tr("&Dosimeter:"), id);
    form->addRow(tr("&Reason:"), reason);
    form->addRow(buttons);
    while (dialog.exec() == QDialog::Accepted) {
        QString why;
        const QString newId = id->text().trimmed();
        if (const std::optional<ReadingRecord> current = session_.currentRecord(newId); current && current->seq != r.seq) {
            if (!askYesNo(this, tr("Correct the dosimeter ID"),
                          tr("%1 already has record %2 (%3). The correction makes record %4's reading the current "
                             "one of %1, and record %2 superseded. Go on?")
                              .arg(newId)
                              .arg(current->seq)
                              .arg(current->isVoid() ? tr("void") : current->shown.trimmed())
                              .arg(r.seq)))
                continue;
        }
        if (session_.correctId(r.seq, newId, reason->text(), &why))
            return;
        showMessage(why);
    }
}

void BatchWindow::captureNow()
{
    const CaptureMachine& m = session_.machine();
    if (m.state() == CaptureState::Held && m.filmSensed()) {
        const std::optional<QString> reason =
            ReasonDialog::ask(this, tr("Read the film again"),
                              tr("%1 has a stored record. Reading it again makes the new reading its current "
                                 "record. Why read it again?")
                                  .arg(m.currentId()),
                              {tr("film not seated in the holder"), tr("film dirty or marked, cleaned"),
                               tr("doubt about the value")});
        if (reason)
            session_.requestReread(*reason);
        return;
    }
    session_.requestCapture();
}

void BatchWindow::scanned(const QString& id)
{
    QString reason;
    if (const std::optional<ReadingRecord> current = session_.currentRecord(id)) {
        const std::optional<QString> given =
            ReasonDialog::ask(this, tr("Read a dosimeter again"),
                              tr("%1 already has record %2 (%3). The next film read becomes its current record. "
                                 "Why read it again?")
                                  .arg(id)
                                  .arg(current->seq)
                                  .arg(current->isVoid() ? tr("void") : current->shown.trimmed()),
                              {tr("film not seated in the holder"), tr("doubt about the value"),
                               tr("the ID was voided by mistake")});
        if (!given)
            return;
        reason = *given;
    }
    QString why;
    if (!session_.setScannedId(id, reason, &why)) {
        statusBar()->showMessage(why, 8000);
        return;
    }
    scan_->clear();
}

void BatchWindow::voidId(const QString& preset)
{
    if (!session_.hasBatch()) {
        showMessage(tr("Open a batch first (File > New Batch)."));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Void a dosimeter ID"));
    auto* note = new QLabel(tr("A void record says that this dosimeter has no reading, and why. Its current "
                               "record, if it has one, is superseded; nothing is deleted."),
                            &dialog);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    auto* id = new QLineEdit(preset.isEmpty() ? session_.nextId() : preset, &dialog);
    id->setObjectName(QStringLiteral("voidedId"));
    id->setMaxLength(64);
    auto* reason = new QComboBox(&dialog);
    reason->setObjectName(QStringLiteral("reason"));
    reason->setEditable(true);
    reason->addItems({tr("film damaged"), tr("film lost"), tr("film darker than the reader measures"),
                      tr("wrong film in the batch")});
    reason->setCurrentIndex(-1);
    reason->lineEdit()->setMaxLength(kMaxReasonLength);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(note);
    form->addRow(tr("&Dosimeter:"), id);
    form->addRow(tr("&Reason:"), reason);
    form->addRow(buttons);
    while (dialog.exec() == QDialog::Accepted) {
        QString why;
        if (session_.voidId(id->text(), reason->currentText(), &why))
            return;
        showMessage(why);
    }
}

void BatchWindow::showLink(LinkSession::State state, const QString& text)
{
    const char* color = state == LinkSession::State::Connected ? "#1a8f3a" : state == LinkSession::State::Waiting ? "#c08000" : "#c02020";
    linkDot_->setText(QStringLiteral("<span style=\"color:%1\">\u25CF</span>").arg(QLatin1String(color)));
    linkText_->setText(text);
    captureButton_->setEnabled(state == LinkSession::State::Connected && session_.hasBatch());
    if (state != LinkSession::State::Connected) {
        reading_->setText(QStringLiteral("-"));
        status_->setText(QStringLiteral(" "));
        dose_->clear();
        decision_->clear();
    }
}

void BatchWindow::showReader()
{
    const ReaderInfo& r = session_.reader();
    QStringList parts;
    if (!r.model.isEmpty())
        parts << r.model;
    if (!r.serial.isEmpty())
        parts << tr("serial %1").arg(r.serial);
    if (!r.gain.isEmpty())
        parts << tr("gain %1").arg(r.gain);
    if (!r.wavelength.isEmpty())
        parts << r.wavelength;
    if (!r.zero.isEmpty()) {
        const QDateTime at = QDateTime::fromString(r.zeroTime, Qt::ISODateWithMs);
        parts << (at.isValid() ? tr("zero %1 V at %2").arg(r.zero, at.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
                               : tr("zero %1 V").arg(r.zero));
    }
    readerText_->setText(parts.join(QStringLiteral("  \u00B7  ")));
}

void BatchWindow::showBatch()
{
    if (!session_.hasBatch()) {
        batchText_->setText(tr("No batch is open: File > New Batch (Ctrl+N)."));
        records_.setRecords({});
    } else {
        const BatchRecord& b = session_.batch();
        QStringList parts{tr("Batch %1").arg(b.name), tr("operator %1").arg(session_.operatorName())};
        if (!b.lot.isEmpty())
            parts << tr("lot %1").arg(b.lot);
        const int done = int(session_.records().size());
        parts << (session_.idPlan().hasList() ? tr("%1 records, %2 of %3 IDs to go").arg(done).arg(session_.remainingIds()).arg(session_.idPlan().list().size())
                                              : tr("%n records", nullptr, done));
        batchText_->setText(parts.join(QStringLiteral("  \u00B7  ")));
        if (records_.rowCount() != done) {
            records_.setDoses(session_.doses());
            records_.setRecords(session_.records());
        }
        // Dose columns for a batch of a lot in the store; an absorbance batch has none.
        const bool doses = !session_.doses().isEmpty() || (!b.lot.isEmpty() && currentLot(session_.store(), b.lot));
        for (int c : {RecordTableModel::Dose, RecordTableModel::DoseU, RecordTableModel::Decision})
            table_->setColumnHidden(c, !doses);
    }
    wavelengthWarning_->setVisible(!session_.wavelengthWarning().isEmpty());
    wavelengthWarning_->setText(tr("The wavelength changed during this batch (%1): records before and after it were read at different wavelengths.")
                                    .arg(session_.wavelengthWarning()));
    captureButton_->setEnabled(session_.link().state() == LinkSession::State::Connected && session_.hasBatch());
    showNextId();
    showCapture();
}

void BatchWindow::showReading(const Reading& r)
{
    reading_->setText(r.text.trimmed());
    // A reading that cannot be trusted is no number to read off: grey, with
    // its state as large as the number.
    const bool ok = r.status == kStatusOk;
    reading_->setStyleSheet(ok ? QString() : QStringLiteral("color:#a0a0a0"));
    QFont f = status_->font();
    f.setPointSizeF(reading_->font().pointSizeF() * (ok ? 0.33 : 0.6));
    status_->setFont(f);
    status_->setText(ok ? colored(r.status, "#1a8f3a") : colored(r.status.isEmpty() ? tr("no status") : r.status, "#c02020"));
    showDose(r);
    if (session_.machine().state() == CaptureState::Settling) {
        showCapture();
        updateBand();
    }
    chart_->update();
}

void BatchWindow::showDose(const Reading& r)
{
    // A batch of a lot with an approved calibration for this reader: the
    // reading's dose, and the decision against the batch's limits in words;
    // nothing while the head is empty.
    QString why;
    const bool filmIn = session_.machine().state() != CaptureState::Empty;
    const std::optional<FilmDose> d =
        filmIn && r.status == kStatusOk && r.value ? session_.doseOf(*r.value, &why) : std::nullopt;
    if (!d) {
        dose_->clear();
        decision_->clear();
        dose_->setToolTip(why);
        return;
    }
    const calib::DoseEstimate& e = d->estimate;
    dose_->setToolTip(tr("lot %1, calibration %2").arg(d->lot.name).arg(d->calibration.seq));
    if (!e.inversion.dose) {
        dose_->setText(calib::flagText(e.inversion.flag));
        dose_->setStyleSheet(QStringLiteral("color:#c02020"));
        decision_->clear();
        return;
    }
    dose_->setStyleSheet(QString());
    dose_->setText(tr("%1 \u00B1 %2 kGy").arg(QString::number(*e.inversion.dose, 'f', 2), QString::number(e.uncertainty->expanded, 'f', 2)));
    const QString decision = session_.terms() ? decide(*session_.terms(), e.inversion.dose, e.uncertainty->expanded) : QString();
    decision_->setText(decision.toUpper());
    decision_->setStyleSheet(decision == QLatin1String("pass") ? QStringLiteral("color:#1a8f3a")
                             : decision == QLatin1String("undecided") ? QStringLiteral("color:#a05000")
                                                                      : QStringLiteral("color:#c02020"));
}

void BatchWindow::showNextId()
{
    // While a film is read or waits to be taken out, its own ID; otherwise the next one.
    const CaptureMachine& m = session_.machine();
    const bool filmIn = m.state() == CaptureState::Settling || m.state() == CaptureState::Held
                        || m.state() == CaptureState::Refused;
    const QString id = filmIn && !m.currentId().isEmpty() ? m.currentId() : session_.nextId();
    nextLabel_->setText(filmIn && !m.currentId().isEmpty() ? tr("Film in the head:") : tr("Next film:"));
    nextId_->setText(id.isEmpty() ? QStringLiteral("-") : id);
    nextId_->setToolTip(session_.scannedId().isEmpty() ? QString() : tr("scanned"));
}

QString BatchWindow::captureText() const { return capture_->text(); }

void BatchWindow::showCapture()
{
    const CaptureMachine& m = session_.machine();
    QString text;
    if (!session_.hasBatch()) {
        text = tr("Open a batch to start.");
    } else {
        switch (m.state()) {
        case CaptureState::Empty: {
            const QString next = session_.attention().kind == Attention::Kind::Held
                                     ? tr("No film is read until the reader passes today's filter check (above).")
                                 : session_.attention().kind == Attention::Kind::None
                                     ? tr("Insert the next film.")
                                     : tr("Deal with the message above before the next film.");
            text = refusal_.isEmpty() ? next : refusal_ + QLatin1Char(' ') + next;
            break;
        }
        case CaptureState::Settling:
            text = m.window().readings().size() < m.rule().count
                       ? tr("Reading %1: %2 of %3 readings so far...").arg(m.currentId()).arg(m.window().readings().size()).arg(m.rule().count)
                       : tr("Reading %1: settling; %2.").arg(m.currentId(), m.window().describe());
            break;
        case CaptureState::Held:
            text = (lastStored_.isEmpty() ? tr("%1 is stored already.").arg(m.currentId()) : lastStored_) + QLatin1Char(' ')
                   + (m.filmSensed() ? tr("Remove the film (the head's button reads it again).")
                                     : tr("Capture (F5) reads the next film."));
            break;
        case CaptureState::Refused:
            text = refusal_ + QLatin1Char(' ')
                   + (m.filmSensed() ? tr("Remove the film, or press the head's button or Capture to try again.")
                                     : tr("Press Capture (F5) to try again."));
            break;
        case CaptureState::Unknown:
            text = tr("A film was in the head when the link came up: remove it, or press Capture (F5) to read it as %1.").arg(session_.nextId());
            break;
        case CaptureState::Blocked:
            text = session_.attention().kind == Attention::Kind::None
                       ? m.blockedBecause()
                       : tr("The film in the head waits; it is read once the message above is dealt with.");
            break;
        }
    }
    capture_->setText(text);
    capture_->setStyleSheet(m.state() == CaptureState::Refused || m.state() == CaptureState::Blocked
                                    || (!refusal_.isEmpty() && m.state() == CaptureState::Empty)
                                ? QStringLiteral("color:#c02020")
                            : m.state() == CaptureState::Held ? QStringLiteral("color:#1a8f3a")
                                                              : QString());
}

void BatchWindow::showAttention()
{
    const Attention a = session_.attention();
    attention_->setVisible(a.kind != Attention::Kind::None);
    attentionText_->setText(a.text);
    readAgainButton_->setVisible(a.kind == Attention::Kind::Refused);
    voidButton_->setVisible(a.kind == Attention::Kind::Refused);
    zeroButton_->setVisible(a.kind == Attention::Kind::Blocked);
    if (a.kind == Attention::Kind::Refused) {
        readAgainButton_->setText(tr("&Read %1 Again").arg(a.refusedId));
        voidButton_->setText(tr("&Void %1...").arg(a.refusedId));
    }
    showNextId();
    showCapture();
}

void BatchWindow::updateBand()
{
    const CaptureMachine& m = session_.machine();
    // While a film settles, the band shows where the next readings must fall.
    if (m.state() == CaptureState::Settling && !m.window().readings().isEmpty())
        chart_->setBand(*m.window().readings().constLast().value, m.rule().band);
    else if (m.state() == CaptureState::Held && !session_.records().isEmpty())
        chart_->setBand(session_.records().constLast().absorbance.value_or(0), m.rule().band);
    else
        chart_->setBand(std::nullopt, 0);
}

} // namespace kalvor::batchwin
