#pragma once
// Fitting a calibration curve to points (dose, response), unweighted least
// squares. A fit is refused, with a reason a user understands, when the
// points cannot carry the model (a negative or not finite dose or response,
// no more points than parameters, too few different doses), when the
// iteration does not converge, when a result is not a finite number, or when
// the curve is not strictly monotonic over the calibrated range (its slope is
// checked at 1001 evenly spaced doses from the lowest to the highest, ends
// included): a curve that turns back gives one response two doses.
#include "calib/Calibration.h"
#include "calib/LeastSquares.h"

#include <QString>

namespace kalvor::calib {

struct FitResult {
    std::optional<Calibration> calibration;
    QString refusal;  // why there is none

    bool ok() const { return calibration.has_value(); }
};

FitResult fitCalibration(const Model& model, std::span<const Point> points);

// Steps of the monotonicity check over [doseMin, doseMax].
inline constexpr int kMonotonicSteps = 1000;

// Where the curve of `c` stops rising (or falling) within its range, or
// nothing when its slope keeps one sign, never 0, over the whole range.
std::optional<double> monotonicityBreak(const Calibration& c);

} // namespace kalvor::calib
