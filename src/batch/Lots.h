#pragma once
// Adding and changing film lots, for kalvor-batch lot and the Lots dialog
// alike. A lot is never overwritten: a change is a new row that supersedes
// the lot's current one and keeps what the change does not give. Its
// background A0 at a wavelength is typed, or the mean of a batch of
// unirradiated films read like any batch (at each wavelength it was read).
#include "records/Calibrations.h"

#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

using namespace kalvor::records;

// Limits a lot's figures must keep.
inline constexpr double kMaxThicknessMm = 10;
inline constexpr double kMinBackground = -0.5;
inline constexpr double kMaxBackground = 3;
inline constexpr int kMaxNotesLength = 2000;

// What an addition or change gives; whatever is not given stays as the lot has it.
struct LotChange {
    QString name;
    std::optional<double> thicknessMm;
    std::optional<double> thicknessUMm;
    std::optional<QString> filmType;
    std::optional<QString> notes;
    QList<LotBackground> backgrounds;  // each replaces the lot's background at its wavelength
    QString operatorName;              // empty: the login name
};

// The mean background of the batch's current readings at each wavelength,
// with their SD (two films or more), count and the batch's name.
std::optional<QList<LotBackground>> backgroundsOf(const RecordStore& store, const QString& batchName, QString* why);

// A typed background, checked (-0.5 to 3; a wavelength in nm, "510" or "510 nm").
std::optional<LotBackground> typedBackground(double a0, const QString& wavelength, QString* why);

// What is wrong with the change whatever the store holds (names, texts, figures); empty when nothing.
QString lotChangeProblem(const LotChange& change);
// The row the change makes: the lot's current row (if any) with the change
// applied, superseding it. Nothing, with the reason, when the change cannot
// be stored: no name, a new lot without its thickness, a figure out of range,
// a name or text too long or with control characters.
std::optional<LotRecord> changedLot(const RecordStore& store, const LotChange& change, QString* why);

// The lot's calibrations that give doses now: for each reader and wavelength
// the one approved last.
QList<CalibrationRecord> approvedCalibrations(const RecordStore& store, const QString& lot);

// "0.1523 (mean of 3 films of bg-L7, SD 0.0011)" or "0.1500 (typed)".
QString backgroundText(const LotBackground& b);

} // namespace kalvor::batch
