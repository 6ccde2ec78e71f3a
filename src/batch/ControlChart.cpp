#include "batch/ControlChart.h"

#include <cmath>

namespace kalvor::batch {

namespace {

// +1 above centre + k·σ, −1 below centre − k·σ, 0 otherwise.
int side(double value, const ChartLimits& l, double k)
{
    if (value > l.centre + k * l.sigma)
        return 1;
    if (value < l.centre - k * l.sigma)
        return -1;
    return 0;
}

// Whether at least `need` of the `window` points ending at `index` lie beyond
// k·σ on the side of point `index`, which must itself be beyond.
bool runBeyond(const std::vector<double>& values, size_t index, const ChartLimits& l, double k, size_t window,
               int need)
{
    if (index + 1 < window)
        return false;
    const int s = side(values[index], l, k);
    if (s == 0)
        return false;
    int count = 0;
    for (size_t i = index + 1 - window; i <= index; ++i)
        if (side(values[i], l, k) == s)
            ++count;
    return count >= need;
}

} // namespace

QList<int> runRules(const std::vector<double>& values, size_t index, const ChartLimits& l)
{
    QList<int> fired;
    if (index >= values.size())
        return fired;
    if (side(values[index], l, 3) != 0)
        fired << 1;
    if (runBeyond(values, index, l, 2, 3, 2))
        fired << 2;
    if (runBeyond(values, index, l, 1, 5, 4))
        fired << 3;
    if (index + 1 >= 8) {
        const int s = side(values[index], l, 0);
        bool same = s != 0;
        for (size_t i = index + 1 - 8; same && i < index; ++i)
            same = side(values[i], l, 0) == s;
        if (same)
            fired << 4;
    }
    return fired;
}

ImrChart imrChart(const std::vector<double>& values, const std::vector<bool>& baseline)
{
    ImrChart chart;
    chart.points.resize(values.size());
    auto inBaseline = [&](size_t i) {
        return baseline.empty() ? i < size_t(kDefaultBaselinePoints) : i < baseline.size() && baseline[i];
    };
    double sum = 0, rangeSum = 0;
    int n = 0, ranges = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        ChartPoint& p = chart.points[i];
        p.value = values[i];
        p.inBaseline = inBaseline(i);
        if (i > 0)
            p.movingRange = std::abs(values[i] - values[i - 1]);
        if (!p.inBaseline)
            continue;
        sum += values[i];
        ++n;
        if (i > 0 && inBaseline(i - 1)) {
            rangeSum += *p.movingRange;
            ++ranges;
        }
    }
    if (ranges == 0) {
        chart.whyNoLimits = n == 0 ? QStringLiteral("no values in the baseline")
                                   : QStringLiteral("the baseline needs two values in a row");
        return chart;
    }
    if (rangeSum == 0) {
        chart.whyNoLimits = QStringLiteral("the baseline values are all the same: no scatter to set limits by");
        return chart;
    }
    ChartLimits l;
    l.baselinePoints = n;
    l.centre = sum / n;
    l.meanMovingRange = rangeSum / ranges;
    l.sigma = l.meanMovingRange / kD2;
    chart.limits = l;
    for (size_t i = 0; i < values.size(); ++i) {
        ChartPoint& p = chart.points[i];
        p.rules = runRules(values, i, l);
        p.movingRangeBeyond = p.movingRange && *p.movingRange > l.movingRangeUpper();
    }
    return chart;
}

QString ruleText(int rule)
{
    switch (rule) {
    case 1:
        return QStringLiteral("rule 1: one point beyond 3σ");
    case 2:
        return QStringLiteral("rule 2: two of three in a row beyond 2σ on one side");
    case 3:
        return QStringLiteral("rule 3: four of five in a row beyond 1σ on one side");
    case 4:
        return QStringLiteral("rule 4: eight in a row on one side of the centre");
    default:
        break;
    }
    return QStringLiteral("rule %1").arg(rule);
}

QString rulesCell(const QList<int>& rules)
{
    QStringList parts;
    for (int r : rules)
        parts << QString::number(r);
    return parts.join(QLatin1Char('+'));
}

} // namespace kalvor::batch
