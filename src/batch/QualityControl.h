#pragma once
// The reader under statistical control, from what the store already holds:
// every filter check result judged against the reference filter in force on
// its day, an I-MR chart of the deviations of each reader, wavelength and
// filter with its run rules, the trend of the reader's zero at each
// wavelength, and the verifications of calibrations. Computed on read;
// nothing of it is stored.
#include "batch/ControlChart.h"
#include "calib/Statistics.h"
#include "records/QualityRecords.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

// One filter check result and its reference.
struct JudgedCheck {
    records::FilterCheckRecord check;
    QDateTime time;                          // of the result, UTC
    std::optional<records::ReferenceSet> reference;
    std::optional<double> referenceValue;    // the filter's certified absorbance
    std::optional<double> deviation;         // measured − reference
    std::optional<bool> within;              // |deviation| ≤ tolerance; none without reference or value
    QList<int> rules;                        // the run rules that fire at it on its chart

    bool judged() const { return within.has_value(); }
};

JudgedCheck judgeCheck(const QList<records::ReferenceSet>& references, const records::FilterCheckRecord& check);
// For the window when a check is recorded: "light filter 0.302 against
// 0.300 ± 0.010: +0.002, within tolerance".
QString judgementText(const JudgedCheck& judged);

// The chart of one reader, wavelength and filter.
struct FilterSeries {
    QString readerSerial;
    QString wavelength;
    QString filter;
    QList<JudgedCheck> checks;  // those with a deviation, in time order
    ImrChart chart;             // over every check of the series, whatever the period shown
    QString baseline;           // how its limits were set, for the user

    QString title() const;  // "reader 1500 · 510 nm · light"
};

// The zero the reader had at each zero taken before a stored reading.
struct ZeroPoint {
    QDateTime time;  // of the zero, UTC
    double volts = 0;
};

struct ZeroTrend {
    QString readerSerial;
    QString wavelength;
    QList<ZeroPoint> points;  // one per zero, in time order
    calib::LineFit fit;       // volts against days since the first point
    double slopePer30Days = 0;    // V per 30 days
    double slopeSePer30Days = 0;  // its standard error
    double percentPer30Days = 0;  // the slope against the mean zero

    // Falls by more than twice its standard error (at least three zeros).
    bool falling() const;
    QString title() const;
    QString summary() const;  // "−0.0123 ± 0.0011 V per 30 days (−1.02 %), 14 zeros ..."
};

struct QcOptions {
    QDateTime from;  // checks, zeros and verifications shown; invalid: open
    QDateTime to;    // exclusive
    // A baseline period the user fixes; invalid bounds: the first 20 checks of each series.
    QDateTime baselineFrom;
    QDateTime baselineTo;  // exclusive

    bool hasBaselinePeriod() const { return baselineFrom.isValid() || baselineTo.isValid(); }
};

struct QcData {
    QcOptions options;
    QString storePath;
    QString timeUtc;                     // when it was read
    QList<JudgedCheck> results;          // every filter result in the period, in time order
    QList<FilterSeries> series;          // by reader, wavelength, filter
    QList<ZeroTrend> zeros;              // by reader, wavelength
    QList<records::VerificationRecord> verifications;  // in the period, in time order
    QList<records::ReferenceSet> references;           // the current set of each reader and wavelength
};

QcData readQc(const records::RecordStore& store, const QcOptions& options);

// The zero trends of these readings (readings of one zero count once).
QList<ZeroTrend> zeroTrends(const QList<records::ReadingRecord>& readings);

// One row per filter result: time_utc, reader_serial, wavelength, filter,
// measured, reference, deviation, within_tolerance, rules. `raw` as for the
// export (formula-like cells neutralised unless raw).
QByteArray qcCsv(const QcData& data, bool raw = false);

// Why a reference set cannot be recorded (serial, wavelength, absorbances
// above 0 up to 3.0, U and tolerance, certificate and date); empty when it can.
QString referenceSetProblem(const records::ReferenceSet& set);
// Records the set, superseding the current one of its reader and wavelength;
// its row, or nothing with the reason.
std::optional<qint64> recordReferenceSet(records::RecordStore& store, records::ReferenceSet set,
                                         const QString& operatorName, QString* why);

// The findings in a few lines each, for the terminal and the report.
QStringList seriesFindings(const FilterSeries& series, const QcOptions& options);
QString periodText(const QcOptions& options);

} // namespace kalvor::batch
