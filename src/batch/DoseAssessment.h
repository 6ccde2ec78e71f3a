#pragma once
// What a lab decides from doses: each dose judged against the product's
// limits by the batch's decision rule, flags for doses outside the
// calibration's range or read window, and the summary of a dose map (the
// lowest and highest dose with where they were, the dose uniformity ratio
// with its uncertainty, the mean).
//
// Decision rules (D the dose, U its expanded uncertainty, limits lo..hi):
//   simple        pass if lo ≤ D ≤ hi, else below or above;
//   guard band U  pass if D − U ≥ lo and D + U ≤ hi; fail if D + U < lo or
//                 D − U > hi; otherwise undecided.
#include "batch/Dosimetry.h"
#include "records/Doses.h"

#include <QDateTime>

namespace kalvor::batch {

// The decision; empty without limits or without a dose.
QString decide(const records::BatchTermsRecord& terms, std::optional<double> dose, double expanded);
// The rule in words, for reports: "simple acceptance on the dose ..." or the guard band.
QString describeRule(const records::BatchTermsRecord& terms);

// "outside read window" when the reading's time after the end of irradiation
// lies outside the calibration's read window; nothing without either.
QStringList readWindowFlags(const QString& readWindow, const QString& irradiatedUtc, const QString& readUtc);

// The dose row of a reading.
records::DoseRecord doseRecord(const FilmDose& dose, const records::ReadingRecord& reading,
                               const std::optional<records::BatchTermsRecord>& terms);

struct DoseExtreme {
    double dose = 0;
    double uc = 0;
    QString dosimeterId;
    QString position;
};

struct DoseSummary {
    int doses = 0;              // readings with a dose
    int withoutDose = 0;        // current readings without one (no calibration, outside the range)
    std::optional<DoseExtreme> min;
    std::optional<DoseExtreme> max;
    std::optional<double> mean;
    std::optional<double> dur;  // D_max / D_min over the positioned dosimeters
    std::optional<double> durU; // its expanded uncertainty (k = 2), an upper bound
    int pass = 0, below = 0, above = 0, fail = 0, undecided = 0;
};

// Over the current readings of a batch and their current doses. The extremes
// and DUR are taken over the dosimeters with a position when there are any,
// else over all.
DoseSummary summarise(const QList<records::ReadingRecord>& currentReadings,
                      const QHash<qint64, records::DoseRecord>& doses);

// "25..40" (kGy), also "25-40"; nothing when it is not two numbers low < high.
std::optional<std::pair<double, double>> parseLimits(const QString& text);

} // namespace kalvor::batch
