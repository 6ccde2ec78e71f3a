#pragma once
// The points of a calibration from a CSV file: a header row naming columns
// `dose` (kGy) and `response` (specific net absorbance, mm⁻¹), in any order
// and case, and one row per film; other columns are ignored. Every fault is
// named with its line: text in a number column, a number that is not finite,
// a negative dose, a missing column or value, an empty file.
#include "calib/LeastSquares.h"

#include <QString>
#include <optional>
#include <vector>

namespace kalvor::batch {

std::optional<std::vector<calib::Point>> readCalibrationCsv(const QString& path, QString* why);
// The same from the file's text; `name` names it in the reasons.
std::optional<std::vector<calib::Point>> parseCalibrationCsv(const QString& text, const QString& name, QString* why);

} // namespace kalvor::batch
