#pragma once
// What a fit says about its points: R², AIC, each point's residual, the
// responses at each dose level, pure error and lack of fit (dosimetry notes,
// "Calibration fit").
#include "calib/Calibration.h"
#include "calib/LeastSquares.h"

namespace kalvor::calib {

// Fills points, levels, rSquared, aic, pooledSd and lackOfFit of `c` from
// its parameters and the points; `ssr` is the fit's sum of squares.
void describeFit(Calibration& c, std::span<const Point> points, double ssr);

} // namespace kalvor::calib
