#pragma once
// A verification of a lot's calibration: films irradiated to reference doses
// (with transfer dosimeters alongside, for example) are read as a batch; each
// film's dose from the lot's approved calibration over its reference dose is
// its ratio. The calibration passes when the mean ratio lies within the
// tolerance of 1 (default ±5 %). The result is a row of the store.
#include "batch/Dosimetry.h"
#include "records/QualityRecords.h"

#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

inline constexpr double kDefaultVerificationTolerancePct = 5.0;

struct ReferenceDose {
    QString id;
    double doseKGy = 0;
    int line = 0;  // in the file
};

// A CSV with a header row naming `id` (or `dosimeter`) and `dose_kGy` or
// `dose_Gy`, in any order and case; one row per film. Every fault is named
// with its line: a missing column or value, a dose that is no positive
// finite number, an ID given twice, an empty file.
std::optional<QList<ReferenceDose>> parseReferenceDoses(const QString& text, const QString& name, QString* why);

struct VerifiedFilm {
    QString id;
    double referenceKGy = 0;
    std::optional<double> measuredKGy;
    double expandedUKGy = 0;  // of the measured dose
    std::optional<double> ratio;
    QString leftOut;          // why the film has no ratio (void, out of range)
};

struct Verification {
    records::VerificationRecord record;
    QList<VerifiedFilm> films;
    int unlisted = 0;  // films read in the batch but not in the file
};

// Computes the verification of `lot` with the films of `batchName` (nothing is
// stored); nothing, with the reason, when it cannot be made.
std::optional<Verification> verifyCalibration(const records::RecordStore& store, const QString& lot,
                                              const QString& batchName, const QList<ReferenceDose>& doses,
                                              double tolerancePct, QString* why);

// The JSON stored in the record's detail, and back.
QString verificationDetail(const Verification& v);
QList<VerifiedFilm> filmsOfDetail(const QString& detail);

// The table and verdict, for the terminal.
QString verificationReport(const Verification& v);

} // namespace kalvor::batch
