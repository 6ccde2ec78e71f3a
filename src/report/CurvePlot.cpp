#include "report/CurvePlot.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace kalvor::report {

namespace {

constexpr int kCurveIndex = QTextFormat::UserProperty + 1;

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about `parts`.
double niceStep(double span, int parts)
{
    const double raw = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

QString tickText(double v, double step)
{
    const int decimals = std::max(0, -int(std::floor(std::log10(step) + 1e-9)));
    return QString::number(std::abs(v) < step * 1e-9 ? 0.0 : v, 'f', decimals);
}

} // namespace

CurvePlot::CurvePlot(QSizeF sizeMm, double dpi, QObject* parent)
    : QObject(parent), size_(sizeMm.width() / 25.4 * dpi, sizeMm.height() / 25.4 * dpi), dpi_(dpi)
{
}

void CurvePlot::place(QTextDocument& document, std::vector<CurveData> curves)
{
    curves_ = std::move(curves);
    document.documentLayout()->registerHandler(kObjectType, this);
    // Where the anchors are, found first and replaced from the end.
    QList<std::pair<int, std::pair<int, int>>> places;  // curve, (position, length)
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            for (const QString& name : f.charFormat().anchorNames())
                if (name.startsWith(QLatin1String("curve-")))
                    places.append({name.mid(6).toInt(), {f.position(), f.length()}});
        }
    std::sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.second.first > b.second.first; });
    for (const auto& [index, where] : places) {
        if (index < 0 || size_t(index) >= curves_.size())
            continue;
        QTextCursor cursor(&document);
        cursor.setPosition(where.first);
        cursor.setPosition(where.first + where.second, QTextCursor::KeepAnchor);
        QTextCharFormat object;
        object.setObjectType(kObjectType);
        object.setProperty(kCurveIndex, index);
        cursor.insertText(QString(QChar::ObjectReplacementCharacter), object);
    }
}

QSizeF CurvePlot::intrinsicSize(QTextDocument*, int, const QTextFormat&) { return size_; }

void CurvePlot::drawObject(QPainter* painter, const QRectF& rect, QTextDocument*, int, const QTextFormat& format)
{
    const int index = format.property(kCurveIndex).toInt();
    if (index < 0 || size_t(index) >= curves_.size())
        return;
    const CurveData& data = curves_[size_t(index)];
    const calib::Calibration& c = data.curve;
    const double mm = dpi_ / 25.4;

    // The values shown: the points, and the curve from zero to the range's end.
    double xMax = c.doseMax, yMin = 0, yMax = 0;
    for (const auto& [d, r] : data.points) {
        xMax = std::max(xMax, d);
        yMin = std::min(yMin, r);
        yMax = std::max(yMax, r);
    }
    constexpr int kSamples = 200;
    QList<QPointF> curve;
    for (int i = 0; i <= kSamples; ++i) {
        const double d = c.doseMax * i / kSamples;
        const double r = c.response(d);
        if (!std::isfinite(r))
            continue;
        curve << QPointF(d, r);
        yMin = std::min(yMin, r);
        yMax = std::max(yMax, r);
    }
    if (!(xMax > 0) || !(yMax > yMin))
        return;
    const double xStep = niceStep(xMax, 6), yStep = niceStep(yMax - yMin, 5);
    xMax = std::ceil(xMax / xStep - 1e-9) * xStep;
    yMax = std::ceil(yMax / yStep - 1e-9) * yStep;
    yMin = std::floor(yMin / yStep + 1e-9) * yStep;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(7);
    painter->setFont(font);
    const QFontMetricsF fm(font, painter->device());
    const QRectF area = rect.adjusted(16 * mm, 7 * mm, -4 * mm, -10 * mm);
    auto at = [&](double d, double r) {
        return QPointF(area.left() + area.width() * d / xMax, area.bottom() - area.height() * (r - yMin) / (yMax - yMin));
    };

    // Title, axes, ticks and their numbers.
    QFont bold = font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->drawText(QRectF(rect.left(), rect.top(), rect.width(), 6 * mm), Qt::AlignHCenter | Qt::AlignVCenter, data.title);
    painter->setFont(font);
    const QPen axis(Qt::black, 0.25 * mm);
    const QPen grid(QColor(210, 210, 210), 0.12 * mm);
    for (double x = 0; x <= xMax + xStep / 2; x += xStep) {
        painter->setPen(grid);
        painter->drawLine(at(x, yMin), at(x, yMax));
        painter->setPen(axis);
        painter->drawLine(at(x, yMin), at(x, yMin) + QPointF(0, 1.2 * mm));
        const QString t = tickText(x, xStep);
        painter->drawText(QRectF(at(x, yMin).x() - 10 * mm, area.bottom() + 1.5 * mm, 20 * mm, fm.height()),
                          Qt::AlignHCenter | Qt::AlignTop, t);
    }
    for (double y = yMin; y <= yMax + yStep / 2; y += yStep) {
        painter->setPen(grid);
        painter->drawLine(at(0, y), at(xMax, y));
        painter->setPen(axis);
        painter->drawLine(at(0, y) - QPointF(1.2 * mm, 0), at(0, y));
        painter->drawText(QRectF(area.left() - 14 * mm, at(0, y).y() - fm.height() / 2, 12.3 * mm, fm.height()),
                          Qt::AlignRight | Qt::AlignVCenter, tickText(y, yStep));
    }
    painter->setPen(axis);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(area);
    painter->drawText(QRectF(area.left(), area.bottom() + 2 * mm + fm.height(), area.width(), fm.height() + mm),
                      Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Dose D (kGy)"));
    painter->save();
    painter->translate(rect.left() + 1 * mm, area.center().y());
    painter->rotate(-90);
    painter->drawText(QRectF(-area.height() / 2, 0, area.height(), fm.height() + mm), Qt::AlignHCenter | Qt::AlignTop,
                      QStringLiteral("Response k (mm⁻¹)"));
    painter->restore();

    // The calibrated range's ends, the curve (dashed below the range), the points.
    painter->setClipRect(area.adjusted(-mm, -mm, mm, mm));
    painter->setPen(QPen(QColor(120, 120, 120), 0.15 * mm, Qt::DotLine));
    for (double d : {c.doseMin, c.doseMax})
        painter->drawLine(at(d, yMin), at(d, yMax));
    QPainterPath inRange, below;
    for (const QPointF& p : std::as_const(curve)) {
        QPainterPath& path = p.x() >= c.doseMin ? inRange : below;
        if (path.elementCount() == 0)
            path.moveTo(at(p.x(), p.y()));
        else
            path.lineTo(at(p.x(), p.y()));
    }
    if (below.elementCount() > 0 && inRange.elementCount() > 0)
        below.lineTo(inRange.elementAt(0));
    painter->setPen(QPen(QColor(0, 70, 160), 0.3 * mm, Qt::DashLine));
    painter->drawPath(below);
    painter->setPen(QPen(QColor(0, 70, 160), 0.35 * mm));
    painter->drawPath(inRange);
    painter->setPen(QPen(QColor(190, 40, 20), 0.25 * mm));
    for (const auto& [d, r] : data.points)
        painter->drawEllipse(at(d, r), 0.8 * mm, 0.8 * mm);

    // Legend, bottom right inside the axes, on white.
    painter->setClipping(false);
    const QStringList labels{QStringLiteral("calibration films"),
                             QStringLiteral("fitted curve, %1").arg(c.model.description()),
                             QStringLiteral("calibrated range")};
    double textWidth = 0;
    for (const QString& l : labels)
        textWidth = std::max(textWidth, fm.horizontalAdvance(l));
    const double line = fm.height() * 1.3;
    const QRectF box(area.right() - textWidth - 10 * mm, area.bottom() - 3 * line - 3 * mm, textWidth + 8 * mm,
                     3 * line + 1.5 * mm);
    painter->setPen(QPen(QColor(160, 160, 160), 0.12 * mm));
    painter->setBrush(Qt::white);
    painter->drawRect(box);
    painter->setBrush(Qt::NoBrush);
    const QPointF mark = box.topLeft() + QPointF(3 * mm, 0.75 * mm + line / 2);
    painter->setPen(QPen(QColor(190, 40, 20), 0.25 * mm));
    painter->drawEllipse(mark, 0.8 * mm, 0.8 * mm);
    painter->setPen(QPen(QColor(0, 70, 160), 0.35 * mm));
    painter->drawLine(mark + QPointF(-2 * mm, line), mark + QPointF(2 * mm, line));
    painter->setPen(QPen(QColor(120, 120, 120), 0.15 * mm, Qt::DotLine));
    painter->drawLine(mark + QPointF(0, 2 * line - fm.height() / 2), mark + QPointF(0, 2 * line + fm.height() / 2));
    painter->setPen(Qt::black);
    for (int i = 0; i < labels.size(); ++i)
        painter->drawText(QPointF(mark.x() + 4 * mm, mark.y() + i * line + (fm.ascent() - fm.descent()) / 2), labels[i]);
    painter->restore();
}

} // namespace kalvor::report
