#include "batch/CalibrationFigures.h"

#include <cmath>
#include <limits>

namespace kalvor::batch {

using namespace kalvor::calib;

QString figureText(double v) { return QString::number(v, 'g', 6); }
QString figureText(const std::optional<double>& v) { return v ? figureText(*v) : QStringLiteral("-"); }

CalibrationPlot calibrationPlot(const Calibration& c, int curveSamples)
{
    CalibrationPlot plot;
    for (const FittedPoint& p : c.points) {
        plot.points << QPointF(p.dose, p.response);
        if (p.residualPercent)
            plot.residuals << QPointF(p.dose, *p.residualPercent);
    }
    const int n = std::max(curveSamples, 2);
    for (int i = 0; i < n; ++i) {
        const double dose = c.doseMin + (c.doseMax - c.doseMin) * double(i) / double(n - 1);
        plot.curve << QPointF(dose, c.response(dose));
    }
    return plot;
}

AxisScale niceAxis(double low, double high, int aim)
{
    if (!std::isfinite(low) || !std::isfinite(high))
        return {};
    if (!(high > low)) {
        const double pad = low == 0 ? 1 : std::abs(low) * 0.1;
        low -= pad;
        high += pad;
    }
    // Of the round steps near (high − low)/aim, the one whose axis has the
    // number of steps closest to `aim` (the larger step on a tie).
    aim = std::max(aim, 1);
    const double power = std::pow(10.0, std::floor(std::log10((high - low) / aim)));
    double step = power;
    int bestMiss = std::numeric_limits<int>::max();
    for (double scale : {power / 10, power, power * 10})
        for (double m : {1.0, 2.0, 2.5, 5.0}) {
            const double candidate = m * scale;
            const int steps = int(std::lround(std::ceil(high / candidate - 1e-9) - std::floor(low / candidate + 1e-9)));
            const int miss = std::abs(steps - aim);
            if (miss < bestMiss || (miss == bestMiss && candidate > step)) {
                bestMiss = miss;
                step = candidate;
            }
        }
    AxisScale a;
    a.min = std::floor(low / step + 1e-9) * step;
    a.max = std::ceil(high / step - 1e-9) * step;
    a.ticks = int(std::lround((a.max - a.min) / step)) + 1;
    return a;
}

QList<ParameterFigure> parameterFigures(const Calibration& c)
{
    QList<ParameterFigure> out;
    const QStringList names = c.model.parameterNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const double v = c.parameters[size_t(i)];
        const double u = c.uncertainties[size_t(i)];
        out << ParameterFigure{names[i], QString::number(v, 'g', 10), figureText(u),
                               v != 0 ? QString::number(100.0 * u / std::abs(v), 'f', 2) + QStringLiteral(" %")
                                      : QStringLiteral("-")};
    }
    return out;
}

QList<std::pair<QString, QString>> fitStatistics(const Calibration& c)
{
    QList<std::pair<QString, QString>> out;
    out.append({QStringLiteral("Residual SD"),
                QStringLiteral("%1 mm⁻¹ (%2 degrees of freedom)").arg(figureText(c.residualSd)).arg(c.dof)});
    out.append({QStringLiteral("R²"), QString::number(c.rSquared, 'g', 8)});
    if (c.lackOfFit)
        out.append({QStringLiteral("Lack of fit"),
                    QStringLiteral("F(%1, %2) = %3, p = %4%5")
                        .arg(c.lackOfFit->dofLack)
                        .arg(c.lackOfFit->dofPure)
                        .arg(QString::number(c.lackOfFit->f, 'g', 4), QString::number(c.lackOfFit->p, 'g', 3))
                        .arg(c.lackOfFit->p < 0.05 ? QStringLiteral(": the curve misses the replicates' means")
                                                   : QString())});
    else
        out.append({QStringLiteral("Lack of fit"), QStringLiteral("not tested (it needs replicates at more doses than "
                                                                  "the model has parameters)")});
    out.append({QStringLiteral("Replicate SD"),
                c.pooledSd ? QStringLiteral("%1 mm⁻¹ (pooled over the doses)").arg(figureText(*c.pooledSd))
                           : QStringLiteral("-")});
    out.append({QStringLiteral("AIC"), figureText(c.aic)});
    out.append({QStringLiteral("Range"), QStringLiteral("%1 to %2 kGy: %3 films at %4 doses")
                                             .arg(figureText(c.doseMin), figureText(c.doseMax))
                                             .arg(c.points.size())
                                             .arg(c.levels.size())});
    return out;
}

QStringList comparisonHeadings()
{
    return {QStringLiteral("Model"), QStringLiteral("Residual SD"), QStringLiteral("Max |residual %|"),
            QStringLiteral("Lack of fit p"), QStringLiteral("AIC"), QStringLiteral("Refused")};
}

QList<QStringList> comparisonCells(const std::vector<ComparisonRow>& rows)
{
    // The lowest AIC among the models that fit: the one the points favour
    // once its number of parameters is paid for.
    std::optional<double> bestAic;
    for (const ComparisonRow& r : rows)
        if (r.aic && (!bestAic || *r.aic < *bestAic))
            bestAic = r.aic;
    QList<QStringList> out;
    for (const ComparisonRow& r : rows) {
        if (!r.refusal.isEmpty()) {
            out << QStringList{r.model.description(), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                               QStringLiteral("-"), r.refusal};
            continue;
        }
        // Enough digits to tell the models apart, few enough to read the table at a glance.
        out << QStringList{r.model.description(),
                           r.residualSd ? QString::number(*r.residualSd, 'g', 4) : QStringLiteral("-"),
                           r.largestResidualPercent ? QString::number(*r.largestResidualPercent, 'f', 2) : QStringLiteral("-"),
                           r.lackOfFitP ? QString::number(*r.lackOfFitP, 'g', 3) : QStringLiteral("-"),
                           r.aic ? QString::number(*r.aic, 'f', 2) + (r.aic == bestAic ? QStringLiteral(" *") : QString())
                                 : QStringLiteral("-"),
                           QString()};
    }
    return out;
}

} // namespace kalvor::batch
