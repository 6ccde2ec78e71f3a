#pragma once
// Every model fitted to the same points, side by side: what a lab looks at to
// choose one (residual SD, the largest residual in %, lack of fit, AIC), or
// why a model was refused.
#include "calib/Fit.h"

namespace kalvor::calib {

struct ComparisonRow {
    Model model;
    std::optional<double> residualSd;
    std::optional<double> largestResidualPercent;
    std::optional<double> lackOfFitP;
    std::optional<double> aic;
    QString refusal;  // empty when the model fits
};

// Each model of Model::names(); with `withThroughZero` each also through zero
// (after its own row).
std::vector<ComparisonRow> compareModels(std::span<const Point> points, bool withThroughZero);

} // namespace kalvor::calib
