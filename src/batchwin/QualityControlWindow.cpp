#include "batchwin/QualityControlWindow.h"

#include "batch/QcCommands.h"
#include "records/Calibrations.h"
#include "batchwin/QcCharts.h"
#include "batchwin/QcReportPdf.h"
#include "core/MessageSink.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSaveFile>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

QChartView* chartView(QWidget* parent, const char* name)
{
    auto* v = new QChartView(parent);
    v->setObjectName(QLatin1String(name));
    v->setRenderHint(QPainter::Antialiasing);
    v->setMinimumHeight(180);
    return v;
}

// The view's chart is replaced; the one before goes with it.
void setChart(QChartView* view, QChart* chart)
{
    QChart* before = view->chart();
    view->setChart(chart ? chart : new QChart);
    delete before;
}

QLabel* plainLabel(QWidget* parent, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QTableWidgetItem* item(const QString& text, bool flagged = false)
{
    auto* i = new QTableWidgetItem(text);
    if (flagged)
        i->setForeground(QColor(0xc0, 0x20, 0x20));
    return i;
}

QString local(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

void fill(QTableWidget* table, const QStringList& header, const QList<QStringList>& rows, const QList<bool>& flagged)
{
    table->clear();
    table->setColumnCount(int(header.size()));
    table->setHorizontalHeaderLabels(header);
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < header.size(); ++c)
            table->setItem(r, c, item(rows[r].value(c), flagged.value(r)));
    table->resizeColumnsToContents();
}

QTableWidget* newTable(QWidget* parent, const char* name)
{
    auto* t = new QTableWidget(parent);
    t->setObjectName(QLatin1String(name));
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    t->setAlternatingRowColors(true);
    return t;
}

} // namespace

QualityControlWindow::QualityControlWindow(BatchSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session)
{
    setWindowTitle(tr("Quality Control"));
    setObjectName(QStringLiteral("qualityControl"));

    limitPeriod_ = new QCheckBox(tr("Only from"), this);
    limitPeriod_->setObjectName(QStringLiteral("limitPeriod"));
    from_ = new QDateEdit(QDate::currentDate().addDays(-90), this);
    to_ = new QDateEdit(QDate::currentDate(), this);
    firstChecks_ = new QRadioButton(tr("Limits from the first %1 checks").arg(kDefaultBaselinePoints), this);
    fixedBaseline_ = new QRadioButton(tr("from the checks of"), this);
    fixedBaseline_->setObjectName(QStringLiteral("fixedBaseline"));
    baselineFrom_ = new QDateEdit(this);
    baselineTo_ = new QDateEdit(this);
    for (QDateEdit* e : {from_, to_, baselineFrom_, baselineTo_}) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    const auto [storedFrom, storedTo] = storedBaseline();
    fixedBaseline_->setChecked(storedFrom.isValid() || storedTo.isValid());
    firstChecks_->setChecked(!fixedBaseline_->isChecked());
    baselineFrom_->setDate(storedFrom.isValid() ? storedFrom : QDate::currentDate().addDays(-90));
    baselineTo_->setDate(storedTo.isValid() ? storedTo : QDate::currentDate().addDays(-60));
    auto* csv = new QPushButton(tr("Save &CSV..."), this);
    auto* pdf = new QPushButton(tr("Save &PDF..."), this);
    for (QPushButton* b : {csv, pdf})
        b->setMinimumWidth(pdf->sizeHint().width() + 16);
    // The period shown above, the baseline of the limits below; the files at the right.
    auto* period = new QHBoxLayout;
    period->addWidget(limitPeriod_);
    period->addWidget(from_);
    period->addWidget(new QLabel(tr("to"), this));
    period->addWidget(to_);
    period->addStretch(1);
    period->addWidget(csv);
    auto* baseline = new QHBoxLayout;
    baseline->addWidget(firstChecks_);
    baseline->addWidget(fixedBaseline_);
    baseline->addWidget(baselineFrom_);
    baseline->addWidget(new QLabel(tr("to"), this));
    baseline->addWidget(baselineTo_);
    baseline->addStretch(1);
    baseline->addWidget(pdf);
    auto* controls = new QVBoxLayout;
    controls->addLayout(period);
    controls->addLayout(baseline);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("tabs"));

    auto* checks = new QSplitter(Qt::Horizontal, tabs_);
    seriesList_ = new QListWidget(checks);
    seriesList_->setObjectName(QStringLiteral("series"));
    auto* right = new QWidget(checks);
    individuals_ = chartView(right, "individuals");
    movingRange_ = chartView(right, "movingRange");
    findings_ = plainLabel(right, "findings");
    auto* rightBox = new QVBoxLayout(right);
    rightBox->setContentsMargins(0, 0, 0, 0);
    rightBox->addWidget(findings_);
    rightBox->addWidget(individuals_, 3);
    rightBox->addWidget(movingRange_, 2);
    checks->addWidget(seriesList_);
    checks->addWidget(right);
    checks->setStretchFactor(1, 1);
    checks->setSizes({220, 800});
    tabs_->addTab(checks, tr("Control &Charts"));

    auto* zero = new QSplitter(Qt::Horizontal, tabs_);
    zeroList_ = new QListWidget(zero);
    zeroList_->setObjectName(QStringLiteral("zeros"));
    auto* zeroRight = new QWidget(zero);
    zeroView_ = chartView(zeroRight, "zeroChart");
    zeroText_ = plainLabel(zeroRight, "zeroTrend");
    auto* zeroBox = new QVBoxLayout(zeroRight);
    zeroBox->setContentsMargins(0, 0, 0, 0);
    zeroBox->addWidget(zeroText_);
    zeroBox->addWidget(zeroView_, 1);
    zero->addWidget(zeroList_);
    zero->addWidget(zeroRight);
    zero->setStretchFactor(1, 1);
    zero->setSizes({220, 800});
    tabs_->addTab(zero, tr("&Zero Trend"));

    auto* lots = new QSplitter(Qt::Horizontal, tabs_);
    lotList_ = new QListWidget(lots);
    lotList_->setObjectName(QStringLiteral("lots"));
    auto* lotRight = new QWidget(lots);
    lotView_ = chartView(lotRight, "verificationChart");
    lotTable_ = newTable(lotRight, "verifications");
    auto* lotBox = new QVBoxLayout(lotRight);
    lotBox->setContentsMargins(0, 0, 0, 0);
    lotBox->addWidget(lotView_, 3);
    lotBox->addWidget(lotTable_, 2);
    lots->addWidget(lotList_);
    lots->addWidget(lotRight);
    lots->setStretchFactor(1, 1);
    lots->setSizes({220, 800});
    tabs_->addTab(lots, tr("Calibration &Verifications"));

    results_ = newTable(tabs_, "results");
    tabs_->addTab(results_, tr("Filter &Results"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(tabs_, 1);

    connect(seriesList_, &QListWidget::currentRowChanged, this, &QualityControlWindow::showSeries);
    connect(zeroList_, &QListWidget::currentRowChanged, this, &QualityControlWindow::showZero);
    connect(lotList_, &QListWidget::currentRowChanged, this, &QualityControlWindow::showLot);
    for (QDateEdit* e : {from_, to_, baselineFrom_, baselineTo_})
        connect(e, &QDateEdit::dateChanged, this, &QualityControlWindow::refresh);
    connect(limitPeriod_, &QCheckBox::toggled, this, &QualityControlWindow::refresh);
    connect(fixedBaseline_, &QRadioButton::toggled, this, [this](bool fixed) {
        storeBaseline(fixed ? baselineFrom_->date() : QDate(), fixed ? baselineTo_->date() : QDate());
        refresh();
    });
    for (QDateEdit* e : {baselineFrom_, baselineTo_})
        connect(e, &QDateEdit::dateChanged, this, [this] {
            if (fixedBaseline_->isChecked())
                storeBaseline(baselineFrom_->date(), baselineTo_->date());
        });
    connect(csv, &QPushButton::clicked, this, &QualityControlWindow::saveCsv);
    connect(pdf, &QPushButton::clicked, this, &QualityControlWindow::savePdf);
    connect(&session_, &BatchSession::filterCheckStored, this, &QualityControlWindow::refresh);
    resize(screen() ? QSize(1180, 760).boundedTo(screen()->availableSize() * 0.92) : QSize(1180, 760));
    refresh();
}

QcOptions QualityControlWindow::options() const
{
    QcOptions o;
    if (limitPeriod_->isChecked()) {
        o.from = from_->date().startOfDay();
        o.to = to_->date().addDays(1).startOfDay();
    }
    if (fixedBaseline_->isChecked()) {
        o.baselineFrom = baselineFrom_->date().startOfDay();
        o.baselineTo = baselineTo_->date().addDays(1).startOfDay();
    }
    for (QDateEdit* e : {from_, to_})
        e->setEnabled(limitPeriod_->isChecked());
    for (QDateEdit* e : {baselineFrom_, baselineTo_})
        e->setEnabled(fixedBaseline_->isChecked());
    return o;
}

void QualityControlWindow::refresh()
{
    data_ = readQc(session_.store(), options());
    // The chart shown stays; at first, the first that calls for attention.
    int seriesRow = seriesList_->currentRow();
    seriesList_->clear();
    for (const FilterSeries& s : data_.series) {
        bool alarm = false;
        for (const JudgedCheck& j : s.checks)
            alarm = alarm || !j.rules.isEmpty() || (j.within && !*j.within);
        auto* entry = new QListWidgetItem((alarm ? QStringLiteral("\u26A0 ") : QString()) + s.title(), seriesList_);
        if (alarm)
            entry->setForeground(QColor(0xc0, 0x20, 0x20));
        if (alarm && seriesRow < 0)
            seriesRow = seriesList_->count() - 1;
    }
    seriesRow = std::max(seriesRow, 0);
    seriesList_->setCurrentRow(std::min(seriesRow, int(data_.series.size()) - 1));
    if (data_.series.isEmpty())
        showSeries(-1);

    zeroList_->clear();
    for (const ZeroTrend& z : data_.zeros) {
        auto* entry = new QListWidgetItem((z.falling() ? QStringLiteral("\u26A0 ") : QString()) + z.title(), zeroList_);
        if (z.falling())
            entry->setForeground(QColor(0xc0, 0x20, 0x20));
    }
    zeroList_->setCurrentRow(data_.zeros.isEmpty() ? -1 : 0);
    if (data_.zeros.isEmpty())
        showZero(-1);

    lotList_->clear();
    QStringList lots;
    for (const records::VerificationRecord& v : data_.verifications)
        if (!lots.contains(v.lot))
            lots << v.lot;
    lotList_->addItems(lots);
    lotList_->setCurrentRow(lots.isEmpty() ? -1 : 0);
    if (lots.isEmpty())
        showLot(-1);

    QList<QStringList> rows;
    QList<bool> flagged;
    for (const JudgedCheck& j : data_.results) {
        rows << QStringList{local(j.time), j.check.readerSerial, records::normalWavelength(j.check.wavelength), j.check.filter,
                            j.check.value ? QString::number(*j.check.value, 'f', 3) : j.check.shown.trimmed(),
                            j.referenceValue ? QString::number(*j.referenceValue, 'f', 3) : QString(),
                            j.deviation ? QString::number(*j.deviation, 'f', 3) : QString(),
                            j.within ? (*j.within ? tr("yes") : tr("NO")) : tr("no reference"), rulesCell(j.rules)};
        flagged << ((j.within && !*j.within) || !j.rules.isEmpty());
    }
    fill(results_, {tr("time"), tr("reader"), tr("wavelength"), tr("filter"), tr("measured"), tr("reference"), tr("deviation"),
                    tr("within tolerance"), tr("rules")},
         rows, flagged);
    results_->scrollToBottom();
}

void QualityControlWindow::showSeries(int row)
{
    if (row < 0 || row >= data_.series.size()) {
        setChart(individuals_, nullptr);
        setChart(movingRange_, nullptr);
        findings_->setText(tr("No filter check with a reference in this period. Record the reference filters "
                              "(File > Reference Filters), then check them in KALVOR (Setup > Neutral Density Filter Check)."));
        return;
    }
    const FilterSeries& s = data_.series[row];
    setChart(individuals_, individualsChart(s));
    setChart(movingRange_, movingRangeChart(s));
    findings_->setText(seriesFindings(s, data_.options).join(QLatin1Char('\n')));
}

void QualityControlWindow::showZero(int row)
{
    if (row < 0 || row >= data_.zeros.size()) {
        setChart(zeroView_, nullptr);
        zeroText_->setText(tr("No stored reading in this period."));
        return;
    }
    const ZeroTrend& z = data_.zeros[row];
    setChart(zeroView_, zeroChart(z));
    zeroText_->setText(z.summary());
    zeroText_->setStyleSheet(z.falling() ? QStringLiteral("color:#c02020") : QString());
}

void QualityControlWindow::showLot(int row)
{
    QList<records::VerificationRecord> ofLot;
    if (row >= 0)
        for (const records::VerificationRecord& v : data_.verifications)
            if (v.lot == lotList_->item(row)->text())
                ofLot << v;
    if (ofLot.isEmpty()) {
        setChart(lotView_, nullptr);
        fill(lotTable_, {tr("no verification in this period (kalvor-batch verify-calibration)")}, {}, {});
        return;
    }
    setChart(lotView_, verificationChart(ofLot.constFirst().lot, ofLot));
    QList<QStringList> rows;
    QList<bool> failed;
    for (const records::VerificationRecord& v : ofLot) {
        rows << QStringList{local(QDateTime::fromString(v.timeUtc, Qt::ISODateWithMs)), v.batchName,
                            QStringLiteral("%1 · %2").arg(v.readerSerial, v.wavelength), QString::number(v.films),
                            QString::number(v.meanRatio, 'f', 4), QString::number(v.sdRatio, 'f', 4),
                            QStringLiteral("±%1 %").arg(v.tolerancePct), v.passed ? tr("pass") : tr("FAIL")};
        failed << !v.passed;
    }
    fill(lotTable_, {tr("time"), tr("batch"), tr("reader"), tr("films"), tr("mean ratio"), tr("SD"), tr("tolerance"), tr("result")},
         rows, failed);
}

void QualityControlWindow::saveCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save the filter results as CSV"), QStringLiteral("qc.csv"),
                                                      tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    const QByteArray bytes = qcCsv(data_);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        showMessage(tr("%1 cannot be written: %2").arg(path, f.errorString()));
}

void QualityControlWindow::savePdf()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save the quality control report"), QStringLiteral("qc.pdf"),
                                                      tr("PDF files (*.pdf)"));
    if (path.isEmpty())
        return;
    QString why;
    if (!writeQcPdf(data_, path, &why))
        showMessage(why);
}

} // namespace kalvor::batchwin
