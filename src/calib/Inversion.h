#pragma once
// The dose of a response: D with R(D) = k inside the calibrated range, found
// by GSL's Brent solver. A response beyond the curve's ends has no dose, only
// a flag saying on which side of the range it lies.
#include "calib/Calibration.h"

#include <QString>

namespace kalvor::calib {

enum class RangeFlag { Inside, BelowRange, AboveRange };

// "below range", "above range"; empty inside.
QString flagText(RangeFlag flag);

struct Inversion {
    std::optional<double> dose;  // kGy, inside the range only (and for a finite response)
    RangeFlag flag = RangeFlag::Inside;
};

Inversion invert(const Calibration& c, double response);

} // namespace kalvor::calib
