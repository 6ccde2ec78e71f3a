#pragma once
// Plain statistics for quality control, by GSL: the mean and sample SD of a
// set of values, and the least-squares straight line through points with the
// standard errors of its slope and intercept (as the trend of a reader's zero
// over time is judged).
#include <span>

namespace kalvor::calib {

struct MeanSd {
    int n = 0;
    double mean = 0;
    double sd = 0;  // sample SD (n − 1); 0 for fewer than two values
};

MeanSd meanSd(std::span<const double> values);

struct LineFit {
    int n = 0;
    double intercept = 0;
    double slope = 0;
    // Standard errors from the residual scatter (n − 2 degrees of freedom);
    // 0 with only two points, where the line passes through both.
    double slopeSe = 0;
    double interceptSe = 0;
    double residualSd = 0;
    bool ok = false;  // at least two points at two different x
};

// y = intercept + slope·x, unweighted.
LineFit fitLine(std::span<const double> x, std::span<const double> y);

} // namespace kalvor::calib
