#include "calib/Calibration.h"

#include <cmath>

namespace kalvor::calib {

double Calibration::responseVariance(double dose) const
{
    const size_t p = parameters.size();
    std::vector<double> g(p);
    model.gradient(dose, parameters, g);
    double v = 0;
    for (size_t i = 0; i < p; ++i)
        for (size_t j = 0; j < p; ++j)
            v += g[i] * covariance[i * p + j] * g[j];
    return v;
}

std::optional<double> Calibration::largestResidualPercent() const
{
    std::optional<double> largest;
    for (const FittedPoint& point : points)
        if (point.residualPercent && (!largest || std::abs(*point.residualPercent) > *largest))
            largest = std::abs(*point.residualPercent);
    return largest;
}

} // namespace kalvor::calib
