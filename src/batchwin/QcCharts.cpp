#include "batchwin/QcCharts.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

const QColor kData(0x1f, 0x4e, 0x8c);
const QColor kCentre(0x1a, 0x8f, 0x3a);
const QColor kLimit(0xc0, 0x20, 0x20);
const QColor kZone(0x90, 0x90, 0x90);
const QColor kTolerance(0xd0, 0x80, 0x00);

struct Frame {
    QChart* chart;
    QDateTimeAxis* x;
    QValueAxis* y;
    qreal first = 0;
    qreal last = 0;
    double low = 0;
    double high = 0;
};

Frame newFrame(const QString& title, const QString& yTitle, qreal first, qreal last)
{
    Frame f;
    f.chart = new QChart;
    f.chart->setTitle(title);
    f.chart->setAnimationOptions(QChart::NoAnimation);
    f.chart->legend()->setAlignment(Qt::AlignBottom);
    f.chart->setMargins(QMargins(4, 4, 4, 4));
    f.x = new QDateTimeAxis;
    f.x->setFormat(QStringLiteral("yyyy-MM-dd"));
    f.x->setTickCount(6);
    f.y = new QValueAxis;
    f.y->setTitleText(yTitle);
    f.y->setLabelFormat(QStringLiteral("%.4f"));
    f.chart->addAxis(f.x, Qt::AlignBottom);
    f.chart->addAxis(f.y, Qt::AlignLeft);
    // A single day still gets a width, and points off the edges.
    const qreal pad = std::max<qreal>((last - first) * 0.03, 12 * 3600 * 1000.0);
    f.first = first - pad;
    f.last = last + pad;
    f.x->setRange(QDateTime::fromMSecsSinceEpoch(qint64(f.first)), QDateTime::fromMSecsSinceEpoch(qint64(f.last)));
    f.low = std::numeric_limits<double>::max();
    f.high = std::numeric_limits<double>::lowest();
    return f;
}

void attach(Frame& f, QXYSeries* s)
{
    f.chart->addSeries(s);
    s->attachAxis(f.x);
    s->attachAxis(f.y);
    for (const QPointF& p : s->points()) {
        f.low = std::min(f.low, p.y());
        f.high = std::max(f.high, p.y());
    }
}

// A horizontal line across the chart; `name` empty keeps it out of the legend.
void level(Frame& f, double y, const QColor& color, Qt::PenStyle style, const QString& name, qreal width = 1.2)
{
    auto* s = new QLineSeries;
    s->setName(name);
    s->append(f.first, y);
    s->append(f.last, y);
    s->setPen(QPen(color, width, style));
    attach(f, s);
    if (name.isEmpty())
        f.chart->legend()->markers(s).value(0)->setVisible(false);
}

void finish(Frame& f)
{
    if (f.low > f.high) {
        f.low = -1;
        f.high = 1;
    }
    const double span = f.high - f.low > 0 ? f.high - f.low : std::max(std::abs(f.high), 1e-3);
    f.y->setRange(f.low - span * 0.08, f.high + span * 0.08);
    f.y->applyNiceNumbers();
}

qreal ms(const QDateTime& t) { return qreal(t.toMSecsSinceEpoch()); }

} // namespace

QChart* individualsChart(const FilterSeries& s)
{
    Frame f = newFrame(QStringLiteral("Individuals: %1, measured − reference").arg(s.title()), QStringLiteral("deviation"),
                       ms(s.checks.constFirst().time), ms(s.checks.constLast().time));
    if (const std::optional<ChartLimits>& l = s.chart.limits) {
        for (int k : {1, 2})
            for (int sign : {-1, 1})
                level(f, l->centre + sign * k * l->sigma, kZone, Qt::DotLine, QString(), 0.8);
        level(f, l->centre, kCentre, Qt::SolidLine, QStringLiteral("centre"));
        level(f, l->upper(), kLimit, Qt::DashLine, QStringLiteral("±3σ"));
        level(f, l->lower(), kLimit, Qt::DashLine, QString());
    }
    const double tolerance = s.checks.constLast().reference->tolerance;
    level(f, tolerance, kTolerance, Qt::DashDotLine, QStringLiteral("tolerance"));
    level(f, -tolerance, kTolerance, Qt::DashDotLine, QString());
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("deviation"));
    line->setPen(QPen(kData, 1.5));
    line->setPointsVisible(true);
    for (const JudgedCheck& j : s.checks)
        line->append(ms(j.time), *j.deviation);
    attach(f, line);
    // Each rule that fires has its own markers, named in the legend.
    const QColor ruleColors[] = {QColor(0xc0, 0x20, 0x20), QColor(0xe0, 0x60, 0x00), QColor(0x80, 0x30, 0xa0),
                                 QColor(0x20, 0x80, 0x90)};
    const QScatterSeries::MarkerShape shapes[] = {QScatterSeries::MarkerShapeCircle, QScatterSeries::MarkerShapeRectangle,
                                                  QScatterSeries::MarkerShapeTriangle, QScatterSeries::MarkerShapeStar};
    for (int rule = 1; rule <= 4; ++rule) {
        auto* marks = new QScatterSeries;
        for (const JudgedCheck& j : s.checks)
            if (j.rules.contains(rule))
                marks->append(ms(j.time), *j.deviation);
        if (marks->count() == 0) {
            delete marks;
            continue;
        }
        marks->setName(QStringLiteral("rule %1").arg(rule));
        marks->setMarkerShape(shapes[rule - 1]);
        marks->setMarkerSize(16 - 2 * rule);
        QColor fill = ruleColors[rule - 1];
        fill.setAlpha(70);
        marks->setColor(fill);
        marks->setBorderColor(ruleColors[rule - 1]);
        marks->setPen(QPen(ruleColors[rule - 1], 2));
        attach(f, marks);
    }
    finish(f);
    return f.chart;
}

QChart* movingRangeChart(const FilterSeries& s)
{
    Frame f = newFrame(QStringLiteral("Moving range: %1").arg(s.title()), QStringLiteral("MR"),
                       ms(s.checks.constFirst().time), ms(s.checks.constLast().time));
    f.low = 0;
    if (const std::optional<ChartLimits>& l = s.chart.limits) {
        level(f, l->meanMovingRange, kCentre, Qt::SolidLine, QStringLiteral("mean"));
        level(f, l->movingRangeUpper(), kLimit, Qt::DashLine, QStringLiteral("3.267 × mean"));
    }
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("moving range"));
    line->setPen(QPen(kData, 1.5));
    line->setPointsVisible(true);
    auto* beyond = new QScatterSeries;
    beyond->setName(QStringLiteral("above its limit"));
    beyond->setColor(Qt::transparent);
    beyond->setBorderColor(kLimit);
    beyond->setPen(QPen(kLimit, 2));
    beyond->setMarkerSize(12);
    for (qsizetype i = 0; i < s.checks.size(); ++i) {
        const ChartPoint& p = s.chart.points[size_t(i)];
        if (!p.movingRange)
            continue;
        line->append(ms(s.checks[i].time), *p.movingRange);
        if (p.movingRangeBeyond)
            beyond->append(ms(s.checks[i].time), *p.movingRange);
    }
    attach(f, line);
    if (beyond->count() > 0)
        attach(f, beyond);
    else
        delete beyond;
    finish(f);
    f.y->setMin(0);
    return f.chart;
}

QChart* zeroChart(const ZeroTrend& t)
{
    Frame f = newFrame(QStringLiteral("Zero: reader %1 · %2").arg(t.readerSerial, t.wavelength), QStringLiteral("zero (V)"),
                       ms(t.points.constFirst().time), ms(t.points.constLast().time));
    f.y->setLabelFormat(QStringLiteral("%.3f"));
    auto* zeros = new QScatterSeries;
    zeros->setName(QStringLiteral("zero at each zeroing"));
    zeros->setMarkerSize(7);
    zeros->setColor(kData);
    zeros->setBorderColor(kData);
    for (const ZeroPoint& p : t.points)
        zeros->append(ms(p.time), p.volts);
    attach(f, zeros);
    if (t.fit.ok) {
        auto* trend = new QLineSeries;
        trend->setName(QStringLiteral("trend %1 V / 30 days").arg(QString::number(t.slopePer30Days, 'f', 4)));
        trend->setPen(QPen(t.falling() ? kLimit : kCentre, 1.5, Qt::DashLine));
        const QDateTime origin = t.points.constFirst().time;
        for (const QDateTime& at : {t.points.constFirst().time, t.points.constLast().time})
            trend->append(ms(at), t.fit.intercept + t.fit.slope * (origin.msecsTo(at) / 86400000.0));
        attach(f, trend);
    }
    finish(f);
    return f.chart;
}

QChart* verificationChart(const QString& lot, const QList<records::VerificationRecord>& list)
{
    QList<QDateTime> times;
    for (const records::VerificationRecord& v : list)
        times << QDateTime::fromString(v.timeUtc, Qt::ISODateWithMs);
    Frame f = newFrame(QStringLiteral("Calibration verifications: lot %1").arg(lot), QStringLiteral("mean measured / reference"),
                       ms(times.constFirst()), ms(times.constLast()));
    f.y->setLabelFormat(QStringLiteral("%.3f"));
    level(f, 1.0, kCentre, Qt::SolidLine, QStringLiteral("1"));
    const double tol = list.constLast().tolerancePct / 100;
    level(f, 1 + tol, kTolerance, Qt::DashDotLine, QStringLiteral("±%1 %").arg(list.constLast().tolerancePct));
    level(f, 1 - tol, kTolerance, Qt::DashDotLine, QString());
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("mean ratio"));
    line->setPen(QPen(kData, 1.2));
    auto* fail = new QScatterSeries;
    fail->setName(QStringLiteral("failed"));
    fail->setColor(kLimit);
    fail->setBorderColor(kLimit);
    fail->setMarkerSize(11);
    for (qsizetype i = 0; i < list.size(); ++i) {
        line->append(ms(times[i]), list[i].meanRatio);
        if (!list[i].passed)
            fail->append(ms(times[i]), list[i].meanRatio);
    }
    line->setPointsVisible(true);
    attach(f, line);
    if (fail->count() > 0)
        attach(f, fail);
    else
        delete fail;
    finish(f);
    return f.chart;
}

} // namespace kalvor::batchwin
