#include "batchwin/StripChart.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace kalvor::batchwin {

StripChart::StripChart(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    auto* tick = new QTimer(this);  // the chart moves on with the clock
    connect(tick, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    tick->start(1000);
}

void StripChart::setBand(std::optional<double> centre, double halfWidth)
{
    centre_ = centre;
    halfWidth_ = halfWidth;
    update();
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance(QStringLiteral("-0.000")) + 10;
    const QRectF plot(left, 8, width() - left - 10, height() - fm.height() - 16);
    if (plot.width() < 20 || plot.height() < 20)
        return;

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const double span = history_ ? history_->spanMs() : 120000.0;
    QList<QPointF> points;  // x: ms before now, y: absorbance
    if (history_)
        for (const batch::ReadingHistory::Point& pt : history_->points()) {
            const double ago = pt.time.msecsTo(now);
            if (ago <= span)
                points.append(QPointF(ago, pt.value));
        }

    double lo = 0, hi = 0.1;
    if (!points.isEmpty()) {
        lo = hi = points.first().y();
        for (const QPointF& pt : points) {
            lo = std::min(lo, pt.y());
            hi = std::max(hi, pt.y());
        }
    }
    if (centre_) {
        lo = std::min(lo, *centre_ - halfWidth_);
        hi = std::max(hi, *centre_ + halfWidth_);
    }
    const double minRange = 0.02;
    if (hi - lo < minRange) {
        const double mid = (hi + lo) / 2;
        lo = mid - minRange / 2;
        hi = mid + minRange / 2;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
    auto toX = [&](double ago) { return plot.right() - ago / span * plot.width(); };
    auto toY = [&](double a) { return plot.bottom() - (a - lo) / (hi - lo) * plot.height(); };

    const QColor grid = palette().mid().color();
    const QColor text = palette().text().color();
    p.setPen(QPen(grid, 1, Qt::DotLine));
    p.setFont(font());
    for (int i = 0; i <= 4; ++i) {
        const double a = lo + (hi - lo) * i / 4;
        const double y = toY(a);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.save();
        p.setPen(text);
        p.drawText(QRectF(0, y - fm.height() / 2.0, left - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(a, 'f', hi - lo < 0.1 ? 3 : 2));
        p.restore();
    }
    for (int s = 0; s <= 120; s += 30) {
        const double x = toX(s * 1000.0);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.save();
        p.setPen(text);
        p.drawText(QRectF(x - 40, plot.bottom() + 4, 80, fm.height()), Qt::AlignCenter,
                   s == 0 ? QStringLiteral("now") : QStringLiteral("-%1 s").arg(s));
        p.restore();
    }

    if (centre_) {
        const QRectF band(plot.left(), toY(*centre_ + halfWidth_), plot.width(),
                          std::max(1.0, toY(*centre_ - halfWidth_) - toY(*centre_ + halfWidth_)));
        p.fillRect(band, QColor(60, 160, 90, 60));
        p.setPen(QPen(QColor(40, 130, 70), 1, Qt::DashLine));
        p.drawLine(band.topLeft(), band.topRight());
        p.drawLine(band.bottomLeft(), band.bottomRight());
    }

    p.setClipRect(plot);
    if (!points.isEmpty()) {
        QPainterPath line;
        line.moveTo(toX(points.first().x()), toY(points.first().y()));
        for (const QPointF& pt : points)
            line.lineTo(toX(pt.x()), toY(pt.y()));
        p.setPen(QPen(palette().highlight().color(), 2));
        p.drawPath(line);
        p.setBrush(palette().highlight());
        for (const QPointF& pt : points)
            p.drawEllipse(QPointF(toX(pt.x()), toY(pt.y())), 2.5, 2.5);
    }
    p.setClipping(false);
    p.setPen(grid);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
}

} // namespace kalvor::batchwin
