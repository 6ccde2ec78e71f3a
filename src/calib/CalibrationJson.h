#pragma once
// Calibrations, doses and comparisons as JSON, the form scripts read (keys
// below are relied on; numbers round-trip: Qt writes the shortest text that
// reads back as the same double; a number that is not finite is null).
//   calibration: model, through_zero, formula, parameters [{name, value, u}],
//     covariance [[…]] (parameter order), residual_sd, dof, r_squared, aic,
//     pooled_sd, range {min, max}, lack_of_fit {f, p, dof_lack, dof_pure} or
//     null, points [{dose, response, fitted, residual, residual_pct}],
//     levels [{dose, n, mean, sd, cv}]
//   dose: response, dose, flag (null, "below range", "above range"), u_fit,
//     u_read, u_ref, u_thick, u_c, U, slope, u_response, u_response_from
//   comparison row: model, through_zero, residual_sd, max_abs_residual_pct,
//     lack_of_fit_p, aic, refused (the reason, or null)
#include "calib/Compare.h"
#include "calib/DoseUncertainty.h"

#include <QJsonArray>
#include <QJsonObject>

namespace kalvor::calib {

QJsonObject calibrationToJson(const Calibration& c);
QJsonObject doseToJson(const DoseEstimate& e);
QJsonArray comparisonToJson(const std::vector<ComparisonRow>& rows);

// A stored calibration back (what estimateDose() needs: model, parameters,
// covariance, residual and pooled SD, dof, range; points and levels stay
// empty). Nothing, with the reason, when a key is missing or wrong, a number
// is not finite, or the curve is not monotonic over its range.
std::optional<Calibration> calibrationFromJson(const QJsonObject& json, QString* why);

} // namespace kalvor::calib
