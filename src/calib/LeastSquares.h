#pragma once
// Unweighted least squares of a model through points, by GSL: polynomials
// (linear in their parameters) by gsl_multifit_linear, the other models by
// gsl_multifit_nlinear's trust-region Levenberg-Marquardt with the model's
// analytic Jacobian, from starting values the caller derives.
#include "calib/Model.h"

#include <QString>
#include <span>
#include <vector>

namespace kalvor::calib {

struct Point {
    double dose = 0;      // kGy
    double response = 0;  // specific net absorbance k, mm⁻¹
};

struct LeastSquaresSolution {
    std::vector<double> parameters;
    std::vector<double> covariance;  // s²(JᵀJ)⁻¹, row-major
    double ssr = 0;                  // sum of squared residuals
    int iterations = 0;              // nonlinear fits
    QString failure;                 // why there is no solution; empty when solved
};

LeastSquaresSolution solveLinear(const Model& model, std::span<const Point> points);
LeastSquaresSolution solveNonlinear(const Model& model, std::span<const Point> points,
                                    const std::vector<double>& start);

// GSL's default error handler aborts the program; calib reports errors by
// status instead. Every entry into GSL calls this first.
void quietGsl();

} // namespace kalvor::calib
