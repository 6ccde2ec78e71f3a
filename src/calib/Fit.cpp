#include "calib/Fit.h"

#include "calib/FitStatistics.h"
#include "calib/StartValues.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace kalvor::calib {

namespace {

QString number(double v) { return QString::number(v, 'g', 6); }

FitResult refuse(const QString& why) { return FitResult{std::nullopt, why}; }

// The first reason the points cannot carry the model, or an empty text.
QString checkPoints(const Model& model, std::span<const Point> points)
{
    const int p = model.parameterCount();
    for (size_t i = 0; i < points.size(); ++i) {
        if (!std::isfinite(points[i].dose))
            return QStringLiteral("the dose of point %1 is not a finite number").arg(i + 1);
        if (points[i].dose < 0)
            return QStringLiteral("the dose of point %1 is negative (%2 kGy)").arg(i + 1).arg(number(points[i].dose));
        if (!std::isfinite(points[i].response))
            return QStringLiteral("the response of point %1 is not a finite number").arg(i + 1);
    }
    if (int(points.size()) <= p)
        return QStringLiteral("%1 has %2 parameters and needs more points than that; there are %3")
            .arg(model.description()).arg(p).arg(points.size());
    // Through zero the curve is pinned at dose 0, so a film there tells
    // nothing about the parameters.
    std::set<double> doses;
    for (const Point& point : points)
        if (!(model.throughZero() && point.dose == 0))
            doses.insert(point.dose);
    if (int(doses.size()) < p)
        return QStringLiteral("%1 needs films at %2 different doses%3 or more; there are %4")
            .arg(model.description()).arg(p)
            .arg(model.throughZero() ? QStringLiteral(" above 0") : QString()).arg(doses.size());
    const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                                 [](const Point& a, const Point& b) { return a.response < b.response; });
    if (low->response == high->response)
        return QStringLiteral("every response is the same (%1): the films do not respond to these doses")
            .arg(number(low->response));
    return QString();
}

bool allFinite(const Calibration& c)
{
    auto finite = [](double v) { return std::isfinite(v); };
    return std::all_of(c.parameters.begin(), c.parameters.end(), finite)
           && std::all_of(c.covariance.begin(), c.covariance.end(), finite)
           && std::all_of(c.uncertainties.begin(), c.uncertainties.end(), finite)
           && std::isfinite(c.residualSd) && std::isfinite(c.rSquared)
           && std::all_of(c.points.begin(), c.points.end(), [](const FittedPoint& p) { return std::isfinite(p.fitted); });
}

} // namespace

std::optional<double> monotonicityBreak(const Calibration& c)
{
    const double first = c.slope(c.doseMin);
    const double sign = first > 0 ? 1 : -1;
    for (int i = 0; i <= kMonotonicSteps; ++i) {
        const double dose = i == kMonotonicSteps ? c.doseMax
                                                 : c.doseMin + (c.doseMax - c.doseMin) * i / kMonotonicSteps;
        const double slope = c.slope(dose);
        if (!(sign * slope > 0))  // 0, the other sign, or not a number
            return dose;
    }
    return std::nullopt;
}

FitResult fitCalibration(const Model& model, std::span<const Point> points)
{
    if (const QString why = checkPoints(model, points); !why.isEmpty())
        return refuse(why);

    LeastSquaresSolution solution;
    if (model.family() == Model::Family::Poly) {
        solution = solveLinear(model, points);
    } else {
        const std::optional<std::vector<double>> start = startValues(model, points);
        if (!start)
            return refuse(QStringLiteral("no starting values for %1 fit these points").arg(model.description()));
        solution = solveNonlinear(model, points, *start);
    }
    if (!solution.failure.isEmpty())
        return refuse(QStringLiteral("the %1 fit does not converge (%2): the points may not follow this curve")
                          .arg(model.description(), solution.failure));

    Calibration c(model);
    const int n = int(points.size());
    const int p = model.parameterCount();
    c.parameters = solution.parameters;
    c.covariance = solution.covariance;
    for (int i = 0; i < p; ++i)
        c.uncertainties.push_back(std::sqrt(c.covariance[size_t(i * p + i)]));
    c.dof = n - p;
    c.residualSd = std::sqrt(solution.ssr / c.dof);
    const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                                 [](const Point& a, const Point& b) { return a.dose < b.dose; });
    c.doseMin = low->dose;
    c.doseMax = high->dose;
    describeFit(c, points, solution.ssr);

    if (!allFinite(c))
        return refuse(QStringLiteral("the %1 fit gives values that are not finite numbers: these points cannot "
                                     "determine its parameters").arg(model.description()));
    if (const std::optional<double> at = monotonicityBreak(c))
        return refuse(QStringLiteral("the %1 curve is not strictly monotonic over the calibrated range %2 to %3 kGy: "
                                     "its slope turns at %4 kGy, so a response there would have more than one dose")
                          .arg(model.description(), number(c.doseMin), number(c.doseMax), number(*at)));
    return FitResult{std::move(c), QString()};
}

} // namespace kalvor::calib
