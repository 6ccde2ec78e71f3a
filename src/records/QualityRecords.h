#pragma once
// Quality control as rows of the record store: the reference filters of each
// reader and wavelength with their certificate, and the verifications of a
// lot's calibration. Nothing is changed: a new certificate is a new row that
// supersedes the one before for the same reader and wavelength.
#include "records/RecordStore.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

namespace kalvor::records {

namespace event {
// The daily filter check before a batch: a warning, a hold or its release.
inline const QString DailyCheck = QStringLiteral("daily-check");
} // namespace event

// The tolerance of a reference filter when none is given: ±0.010, or the
// certificate's expanded uncertainty U when that is larger.
inline constexpr double kDefaultFilterTolerance = 0.010;

// The lab's neutral density filters, light, medium and dark, as certified
// for one reader's wavelength.
struct ReferenceSet {
    qint64 seq = 0;
    QString timeUtc;
    QString readerSerial;
    QString wavelength;  // "510 nm"
    double light = 0;
    double medium = 0;
    double dark = 0;
    std::optional<double> expandedU;  // the certificate's U (k = 2)
    double tolerance = kDefaultFilterTolerance;  // ± absorbance
    QString certificate;
    QDate certificateDate;
    std::optional<qint64> supersedes;
    QString operatorName;
    QString programVersion;

    // The certified absorbance of "light", "medium" or "dark"; nothing for another name.
    std::optional<double> absorbance(const QString& filter) const;
};

// The tolerance a set gets when the user gives none.
double defaultTolerance(std::optional<double> expandedU);

std::optional<qint64> appendReferenceSet(RecordStore& store, const ReferenceSet& set, QString* why);
// Every row, in the order written.
QList<ReferenceSet> referenceSets(const RecordStore& store);
// The latest row of each reader and wavelength, by reader and wavelength.
QList<ReferenceSet> currentReferenceSets(const QList<ReferenceSet>& all);

// The set a check of this reader and wavelength on local day `day` is judged
// against: the certificate with the latest date on or before that day (of two
// rows of one certificate, the later one, a correction); for a day before
// every certificate, the earliest certificate (the same filters, not yet
// certified anew).
std::optional<ReferenceSet> referenceFor(const QList<ReferenceSet>& all, const QString& readerSerial,
                                         const QString& wavelength, const QDate& day);

// A verification of a lot's calibration: films irradiated to reference doses,
// read as a batch, their doses from the approved calibration over the
// reference doses.
struct VerificationRecord {
    qint64 seq = 0;
    QString timeUtc;
    QString lot;
    qint64 batch = 0;
    QString batchName;
    QString readerSerial;
    QString wavelength;
    qint64 calibration = 0;
    int films = 0;         // films with a ratio
    double meanRatio = 0;  // measured / reference
    double sdRatio = 0;
    double tolerancePct = 5;
    bool passed = false;
    QString detail;        // JSON: each film's ID, doses and ratio, and the films left out and why
    QString dosesFile;
    QString dosesSha256;
    QString operatorName;
    QString programVersion;
};

std::optional<qint64> appendVerification(RecordStore& store, const VerificationRecord& v, QString* why);
// Every verification, of one lot or of all, in the order written.
QList<VerificationRecord> verifications(const RecordStore& store, const QString& lot = {});

} // namespace kalvor::records
