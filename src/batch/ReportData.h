#pragma once
// What a batch report holds, read from the record store in one state of it:
// the batch and its terms, the lot, the current record of each dosimeter
// with its dose, the superseded and void records, each calibration the
// doses come from with its approvals, the dose map's summary, the
// uncertainty budget of a typical reading (the one nearest the median dose),
// and the chain head the report is made from. The report layer lays it out;
// this is the part that needs no display.
#include "batch/DoseAssessment.h"
#include "calib/Calibration.h"
#include "records/Calibrations.h"

#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

// Who issues the report: [Report] LabName and LabAddress in kalvor-batch.conf
// (BatchSettings), or the command's options.
struct LabDetails {
    QString name;
    QString address;  // lines separated by \n
};

// A dosimeter's current record and its current dose, if it has one.
struct ReportRow {
    records::ReadingRecord reading;
    std::optional<records::DoseRecord> dose;
};

// A record that is no longer current, and the record that took its place.
struct SupersededRow {
    records::ReadingRecord reading;
    records::ReadingRecord by;
};

// A calibration the batch's doses come from.
struct ReportCalibration {
    records::CalibrationRecord record;
    std::optional<calib::Calibration> curve;  // nothing when its stored fit cannot be read (curveWhy)
    QString curveWhy;
    QList<records::ApprovalRecord> approvals;  // of this calibration, in order
    // The calibration approved since for the same lot, reader and wavelength, if another one.
    std::optional<qint64> supersededBy;
    int doses = 0;  // current doses of the batch from it
};

// The budget of one dose with where its parts came from (recomputed from the
// calibration and the reading; the numbers reported are the stored ones).
struct TypicalBudget {
    ReportRow row;
    double medianDose = 0;   // of the batch, which this dose is nearest to
    calib::DoseUncertainty how;
    double referenceU = 0;   // relative, k = 1
    double thicknessU = 0;   // u(t), mm
};

struct ReportData {
    QString storePath;
    records::ChainHead head;
    QString madeUtc;
    QString issuedBy;  // who made the report
    LabDetails lab;

    records::BatchRecord batch;
    std::optional<records::LotRecord> lot;  // the lot's definition the doses used, else its current one
    std::optional<records::BatchTermsRecord> terms;
    QStringList readers;      // "KALVOR, serial 1500, gain 1.9" of the current records
    QStringList wavelengths;
    QString firstReadUtc, lastReadUtc;

    QList<ReportRow> rows;                 // current records that hold a reading, in reading order
    QList<records::ReadingRecord> voided;  // current void records: IDs given up
    QList<SupersededRow> superseded;
    QList<ReportCalibration> calibrations;
    DoseSummary summary;
    std::optional<TypicalBudget> typical;
    QString withoutDoses;  // why the batch has no doses, for an absorbance report

    // A dose report when a current record has a dose row; else an absorbance report.
    bool hasDoses() const;
};

// Reads the batch in one state of the store; nothing, with the reason, when
// there is no such batch.
std::optional<ReportData> readReport(const records::RecordStore& store, const QString& batchName, QString* why);

// Digits after the point for a value with this uncertainty: two significant
// digits of the uncertainty (GUM 7.2.6), 0 to 4.
int decimalsFor(double uncertainty);
// The number with that many digits after a decimal point, whatever the locale.
QString decimalText(double value, int decimals);
// "1 page", "3 pages".
QString counted(qsizetype n, const QString& noun);

} // namespace kalvor::batch
