#pragma once
// A lot's stored calibrations with their state, for choosing which to approve:
//   draft       stored, never approved: gives no doses
//   approved    the latest approval for its lot, reader and wavelength: gives doses
//   superseded  approved once, since followed by the approval of another
//               calibration for the same lot, reader and wavelength
// A draft may be approved at any time, an older one too; its approval then
// supersedes the calibration approved before it.
#include "records/Calibrations.h"

#include <QList>
#include <optional>

namespace kalvor::batch {

enum class CalibrationState { Draft, Approved, Superseded };

struct StoredCalibration {
    records::CalibrationRecord record;
    CalibrationState state = CalibrationState::Draft;
    std::optional<records::ApprovalRecord> approval;
    std::optional<qint64> supersededBy;  // the calibration approved after it
};

// Oldest first.
QList<StoredCalibration> storedCalibrations(const records::RecordStore& store, const QString& lot);

QString stateText(CalibrationState state);  // draft, approved, superseded

// "exp through zero, reader 1500 at 510 nm, 5 to 60 kGy"
QString calibrationSummary(const records::CalibrationRecord& c);

} // namespace kalvor::batch
