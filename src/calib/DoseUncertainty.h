#pragma once
// The dose of one film and its uncertainty budget (GUM, first order; standard
// uncertainties, k = 1, in kGy; expanded U = 2·u_c):
//   u_fit   = √(gᵀΣg)/|R′|         the calibration curve's parameters
//   u_read  = u(k)/|R′|            u(k) the larger of the reading's own SD of k
//                                  (its spread over N readings / d₂(N), / t)
//                                  and the calibration's pooled replicate SD
//   u_ref   = D·u_rel(reference)   the irradiation facility's reference doses
//   u_thick = D·u(t)/t             the film's thickness
//   u_c     = √(u_fit² + u_read² + u_ref² + u_thick²)
// g = ∂R/∂p and R′ = ∂R/∂D at the dose.
#include "calib/Calibration.h"
#include "calib/Inversion.h"

namespace kalvor::calib {

// d₂(N), the expected range of N normal values in units of their SD, so that
// SD ≈ range/d₂(N). Tabulated for N = 2..25 (the batch reader takes 2 to 20
// readings per film); above 25 the value of 25 is used, which overstates the
// SD a little. 0 for N < 2 (a single reading has no spread).
double rangeFactor(int n);

// One film's reading.
struct FilmReading {
    double response = 0;    // k = (A − A0)/t, mm⁻¹
    double thickness = 0;   // t, mm; turns the absorbance spread into k (0: the spread is not used)
    double spread = 0;      // largest minus smallest of the reading's N absorbance readings
    int count = 1;          // N
    double thicknessU = 0;  // u(t), mm

    // From the film's absorbance A, the lot's background A0 and thickness t.
    static FilmReading fromAbsorbance(double a, double a0, double thickness);
};

// Where u(k) came from.
enum class ResponseSpread {
    Reading,     // the reading's own spread
    Replicates,  // the calibration's pooled replicate SD
    Residual,    // the calibration's residual SD (a calibration without replicates)
};

struct DoseUncertainty {
    double slope = 0;        // R′ at the dose, mm⁻¹/kGy
    double uResponse = 0;    // u(k), mm⁻¹
    ResponseSpread uResponseFrom = ResponseSpread::Residual;
    double uFit = 0;
    double uRead = 0;
    double uRef = 0;
    double uThick = 0;
    double uc = 0;
    double expanded = 0;     // U = 2·u_c
};

struct DoseEstimate {
    double response = 0;
    Inversion inversion;                         // the dose, or the side of the range
    std::optional<DoseUncertainty> uncertainty;  // with a dose only
};

// `referenceRelativeU`: the relative standard uncertainty of the reference
// doses the lot was calibrated with (0.012 for 1.2 %).
DoseEstimate estimateDose(const Calibration& c, const FilmReading& reading, double referenceRelativeU);

} // namespace kalvor::calib
