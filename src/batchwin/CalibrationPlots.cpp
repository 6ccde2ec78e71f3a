#include "batchwin/CalibrationPlots.h"

#include "batch/CalibrationFigures.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSplitter>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

// A value axis with its title and unit, over [low, high] widened to round numbers.
QValueAxis* axis(const QString& title, double low, double high)
{
    const AxisScale scale = niceAxis(low, high);
    auto* a = new QValueAxis;
    a->setTitleText(title);
    a->setRange(scale.min, scale.max);
    a->setTickCount(scale.ticks);
    a->setLabelFormat(QStringLiteral("%g"));
    return a;
}

void clearChart(QChart* chart)
{
    chart->removeAllSeries();
    for (QAbstractAxis* a : chart->axes()) {
        chart->removeAxis(a);
        delete a;
    }
}

QChartView* chartView(QChart* chart, QWidget* parent, const char* name)
{
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    auto* view = new QChartView(chart, parent);
    view->setObjectName(QLatin1String(name));
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

} // namespace

CalibrationPlots::CalibrationPlots(QWidget* parent) : QWidget(parent)
{
    curve_ = new QChart;
    curve_->legend()->setAlignment(Qt::AlignBottom);
    residuals_ = new QChart;
    residuals_->legend()->hide();
    QChartView* curveView = chartView(curve_, this, "curveChart");
    QChartView* residualView = chartView(residuals_, this, "residualChart");
    curveView->setMinimumSize(420, 280);
    residualView->setMinimumSize(420, 180);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(curveView);
    split->addWidget(residualView);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);
    showDraft(nullptr);
}

void CalibrationPlots::showDraft(const CalibrationDraft* draft)
{
    clearChart(curve_);
    clearChart(residuals_);
    if (!draft || draft->films.isEmpty()) {
        curve_->setTitle(tr("The films' responses and the fitted curve appear here"));
        residuals_->setTitle(tr("Residuals"));
        return;
    }
    const calib::Calibration* c = draft->fit.ok() ? &*draft->fit.calibration : nullptr;
    CalibrationPlot plot;
    if (c) {
        plot = calibrationPlot(*c);
    } else {
        for (const CalibrationFilm& f : draft->films)
            plot.points << QPointF(f.dose, f.response);
    }
    curve_->setTitle(c ? tr("Response against dose: %1").arg(c->model.description())
                            : tr("Response against dose (no curve: the fit is refused)"));
    residuals_->setTitle(c ? tr("Residuals, in % of the fitted response") : tr("Residuals (none: the fit is refused)"));

    double doseMax = 0, low = 0, high = 0;
    for (const QPointF& p : std::as_const(plot.points)) {
        doseMax = std::max(doseMax, p.x());
        low = std::min(low, p.y());
        high = std::max(high, p.y());
    }
    auto* films = new QScatterSeries;
    films->setName(tr("Films"));
    films->setMarkerSize(8);
    films->setColor(QColor(0x1f, 0x5f, 0xa8));
    films->setBorderColor(QColor(0x1f, 0x5f, 0xa8));
    films->append(plot.points);
    curve_->addSeries(films);
    QLineSeries* curve = nullptr;
    if (c) {
        curve = new QLineSeries;
        curve->setName(tr("Fitted curve"));
        curve->setPen(QPen(QColor(0xc0, 0x30, 0x20), 2));
        curve->append(plot.curve);
        curve_->addSeries(curve);
    }
    QValueAxis* x = axis(tr("Dose (kGy)"), 0, doseMax * 1.02);
    QValueAxis* y = axis(tr("Response k (mm⁻¹)"), low, high * 1.03);
    curve_->addAxis(x, Qt::AlignBottom);
    curve_->addAxis(y, Qt::AlignLeft);
    films->attachAxis(x);
    films->attachAxis(y);
    if (curve) {
        curve->attachAxis(x);
        curve->attachAxis(y);
    }

    double largest = 0.5;
    for (const QPointF& p : std::as_const(plot.residuals))
        largest = std::max(largest, std::abs(p.y()));
    auto* residuals = new QScatterSeries;
    residuals->setMarkerSize(8);
    residuals->setColor(QColor(0x1f, 0x5f, 0xa8));
    residuals->setBorderColor(QColor(0x1f, 0x5f, 0xa8));
    residuals->append(plot.residuals);
    auto* zero = new QLineSeries;
    zero->setPen(QPen(QColor(0x80, 0x80, 0x80), 1, Qt::DashLine));
    zero->append({QPointF(0, 0), QPointF(x->max(), 0)});
    residuals_->addSeries(zero);
    residuals_->addSeries(residuals);
    QValueAxis* rx = axis(tr("Dose (kGy)"), x->min(), x->max());
    QValueAxis* ry = axis(tr("Residual (%)"), -largest * 1.2, largest * 1.2);
    residuals_->addAxis(rx, Qt::AlignBottom);
    residuals_->addAxis(ry, Qt::AlignLeft);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(zero), static_cast<QAbstractSeries*>(residuals)}) {
        s->attachAxis(rx);
        s->attachAxis(ry);
    }
}

} // namespace kalvor::batchwin
