#include "calib/FitStatistics.h"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace kalvor::calib {

void describeFit(Calibration& c, std::span<const Point> points, double ssr)
{
    quietGsl();
    const int n = int(points.size());
    const int p = c.model.parameterCount();

    double mean = 0;
    for (const Point& point : points)
        mean += point.response / n;
    double sst = 0;
    c.points.clear();
    for (const Point& point : points) {
        FittedPoint f;
        f.dose = point.dose;
        f.response = point.response;
        f.fitted = c.response(point.dose);
        f.residual = point.response - f.fitted;
        if (point.dose != 0 && f.fitted != 0)
            f.residualPercent = 100 * f.residual / f.fitted;
        c.points.push_back(f);
        sst += (point.response - mean) * (point.response - mean);
    }
    c.rSquared = 1 - ssr / sst;
    c.aic = n * std::log(ssr / n) + 2 * p;

    // Dose levels: the points of equal dose, in dose order.
    std::map<double, std::vector<double>> byDose;
    for (const Point& point : points)
        byDose[point.dose].push_back(point.response);
    c.levels.clear();
    double ssPure = 0;
    for (const auto& [dose, responses] : byDose) {
        DoseLevel level;
        level.dose = dose;
        level.n = int(responses.size());
        for (double r : responses)
            level.mean += r / level.n;
        double ss = 0;
        for (double r : responses)
            ss += (r - level.mean) * (r - level.mean);
        ssPure += ss;
        if (level.n > 1) {
            level.sd = std::sqrt(ss / (level.n - 1));
            if (level.mean != 0)
                level.cv = 100 * *level.sd / std::abs(level.mean);
        }
        c.levels.push_back(level);
    }

    const int levels = int(c.levels.size());
    c.pooledSd.reset();
    c.lackOfFit.reset();
    if (n > levels)
        c.pooledSd = std::sqrt(ssPure / (n - levels));
    // The F test needs pure error (replicates that differ) and more levels
    // than parameters.
    if (n > levels && levels > p && ssPure > 0) {
        LackOfFit lof;
        lof.dofLack = levels - p;
        lof.dofPure = n - levels;
        const double ssLack = std::max(0.0, ssr - ssPure);
        lof.f = (ssLack / lof.dofLack) / (ssPure / lof.dofPure);
        lof.p = gsl_cdf_fdist_Q(lof.f, lof.dofLack, lof.dofPure);
        c.lackOfFit = lof;
    }
}

} // namespace kalvor::calib
