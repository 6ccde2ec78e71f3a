#pragma once
// kalvor-batch fit's report for people: the fitted curve with its parameters
// and statistics, the points and dose levels, doses of responses, and the
// comparison of every model, as aligned plain-text tables.
#include "calib/Compare.h"
#include "calib/DoseUncertainty.h"

#include <QString>

namespace kalvor::batch {

QString fitReport(const calib::Calibration& c, const QString& source);
QString doseReport(const std::vector<calib::DoseEstimate>& doses);
QString comparisonReport(const std::vector<calib::ComparisonRow>& rows);

} // namespace kalvor::batch
