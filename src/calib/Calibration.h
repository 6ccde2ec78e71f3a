#pragma once
// A fitted calibration curve of one film lot, reader and wavelength: the
// model and its parameters with their covariance, the fit's statistics, the
// points it was fitted to, and the dose range it covers. fitCalibration()
// (Fit.h) makes one from points; calibrationFromJson() (CalibrationJson.h)
// restores a stored one, which has everything but its points and levels.
#include "calib/Model.h"

#include <optional>
#include <vector>

namespace kalvor::calib {

struct FittedPoint {
    double dose = 0;      // kGy
    double response = 0;  // mm⁻¹
    double fitted = 0;    // R(dose)
    double residual = 0;  // response − fitted
    // 100·residual/fitted; none at dose 0 (where the response is the film's
    // background and a relative deviation means nothing) or a fitted 0.
    std::optional<double> residualPercent;
};

// The responses at one dose of the calibration.
struct DoseLevel {
    double dose = 0;
    int n = 0;
    double mean = 0;
    std::optional<double> sd;  // with two or more films
    std::optional<double> cv;  // SD/mean in %, where the mean is not 0
};

// Lack of fit against pure error (replicates at a dose):
// F = (SS_LOF/(c − p)) / (SS_PE/(n − c)), p its upper tail.
struct LackOfFit {
    double f = 0;
    int dofLack = 0;  // c − p
    int dofPure = 0;  // n − c
    double p = 0;
};

struct Calibration {
    explicit Calibration(const Model& m) : model(m) {}

    Model model;
    std::vector<double> parameters;     // in the order model.parameterNames() gives
    std::vector<double> uncertainties;  // standard uncertainties, √Σᵢᵢ
    std::vector<double> covariance;     // Σ = s²(JᵀJ)⁻¹, row-major p×p
    double residualSd = 0;              // s = √(SSR/(n − p))
    int dof = 0;                        // n − p
    double rSquared = 0;
    double aic = 0;                     // n·ln(SSR/n) + 2p
    double doseMin = 0;                 // the calibrated range, kGy
    double doseMax = 0;
    std::optional<double> pooledSd;     // √(SS_PE/(n − c)), with replicates
    std::optional<LackOfFit> lackOfFit;
    std::vector<FittedPoint> points;
    std::vector<DoseLevel> levels;

    double response(double dose) const { return model.value(dose, parameters); }
    double slope(double dose) const { return model.slope(dose, parameters); }
    // gᵀΣg: the variance of R(dose) from the parameters' uncertainty.
    double responseVariance(double dose) const;
    // The largest |residual %| of the points that have one.
    std::optional<double> largestResidualPercent() const;
};

} // namespace kalvor::calib
