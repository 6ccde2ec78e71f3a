#include "calib/Statistics.h"

#include "calib/LeastSquares.h"

#include <gsl/gsl_fit.h>
#include <gsl/gsl_statistics_double.h>

#include <cmath>

namespace kalvor::calib {

MeanSd meanSd(std::span<const double> values)
{
    MeanSd m;
    m.n = int(values.size());
    if (values.empty())
        return m;
    m.mean = gsl_stats_mean(values.data(), 1, values.size());
    if (values.size() > 1)
        m.sd = gsl_stats_sd_m(values.data(), 1, values.size(), m.mean);
    return m;
}

LineFit fitLine(std::span<const double> x, std::span<const double> y)
{
    LineFit f;
    f.n = int(std::min(x.size(), y.size()));
    if (f.n < 2)
        return f;
    quietGsl();
    double cov00 = 0, cov01 = 0, cov11 = 0, ssr = 0;
    if (gsl_fit_linear(x.data(), 1, y.data(), 1, size_t(f.n), &f.intercept, &f.slope, &cov00, &cov01, &cov11, &ssr)
            != 0
        || !std::isfinite(f.slope) || !std::isfinite(f.intercept))
        return f;
    f.ok = true;
    // gsl_fit_linear scales the covariance by SSR/(n − 2); with two points it has no scatter to go by.
    if (f.n > 2) {
        f.slopeSe = std::sqrt(cov11);
        f.interceptSe = std::sqrt(cov00);
        f.residualSd = std::sqrt(ssr / (f.n - 2));
    }
    return f;
}

} // namespace kalvor::calib
