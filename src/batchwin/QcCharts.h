#pragma once
// The charts of quality control as Qt Charts, for the Quality Control window
// and the PDF report alike: the individuals chart of a filter's deviations
// with its centre, 1σ/2σ zones, 3σ limits, tolerance and the run rules where
// they fire; its moving-range chart; the reader's zero with its trend line;
// the verifications of a lot's calibration over time.
#include "batch/QualityControl.h"

#include <QList>

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace kalvor::batchwin {

QChart* individualsChart(const batch::FilterSeries& series);
QChart* movingRangeChart(const batch::FilterSeries& series);
QChart* zeroChart(const batch::ZeroTrend& trend);
// The verifications of one lot, in time order.
QChart* verificationChart(const QString& lot, const QList<records::VerificationRecord>& verifications);

} // namespace kalvor::batchwin
