#include "calib/DoseUncertainty.h"

#include <algorithm>
#include <cmath>

namespace kalvor::calib {

double rangeFactor(int n)
{
    // d₂ of the control-chart tables (e.g. ASTM E2587), N = 2..25.
    static constexpr double table[] = {1.128, 1.693, 2.059, 2.326, 2.534, 2.704, 2.847, 2.970,
                                       3.078, 3.173, 3.258, 3.336, 3.407, 3.472, 3.532, 3.588,
                                       3.640, 3.689, 3.735, 3.778, 3.819, 3.858, 3.895, 3.931};
    constexpr int last = 2 + int(std::size(table)) - 1;
    if (n < 2)
        return 0;
    return table[std::min(n, last) - 2];
}

FilmReading FilmReading::fromAbsorbance(double a, double a0, double thickness)
{
    FilmReading r;
    r.response = (a - a0) / thickness;
    r.thickness = thickness;
    return r;
}

DoseEstimate estimateDose(const Calibration& c, const FilmReading& reading, double referenceRelativeU)
{
    DoseEstimate e;
    e.response = reading.response;
    e.inversion = invert(c, reading.response);
    if (!e.inversion.dose)
        return e;
    const double dose = *e.inversion.dose;
    DoseUncertainty u;
    u.slope = c.slope(dose);
    const double sensitivity = 1 / std::abs(u.slope);

    u.uFit = std::sqrt(std::max(0.0, c.responseVariance(dose))) * sensitivity;

    // u(k): the larger of what this reading shows and what the calibration's
    // films showed at one dose (their residual scatter without replicates).
    const double d2 = rangeFactor(reading.count);
    const double own = d2 > 0 && reading.thickness > 0 ? reading.spread / d2 / reading.thickness : 0;
    const double calibration = c.pooledSd.value_or(c.residualSd);
    u.uResponseFrom = c.pooledSd ? ResponseSpread::Replicates : ResponseSpread::Residual;
    u.uResponse = calibration;
    if (own > calibration) {
        u.uResponse = own;
        u.uResponseFrom = ResponseSpread::Reading;
    }
    u.uRead = u.uResponse * sensitivity;

    u.uRef = dose * referenceRelativeU;
    // First order: k scales as 1/t, so a relative error of t is the same
    // relative error of k, and of D where the curve is near straight through
    // zero. (Exactly, u = (k/R′)·u(t)/t; the dosimetry notes fix the simpler
    // form so that every part of KALVOR gives the same figure.)
    u.uThick = reading.thickness > 0 ? dose * reading.thicknessU / reading.thickness : 0;

    u.uc = std::sqrt(u.uFit * u.uFit + u.uRead * u.uRead + u.uRef * u.uRef + u.uThick * u.uThick);
    u.expanded = 2 * u.uc;
    e.uncertainty = u;
    return e;
}

} // namespace kalvor::calib
