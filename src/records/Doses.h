#pragma once
// Doses and the terms a batch is read under, as rows of the record store. A
// reading's dose is a row of its own next to the reading (the reading row is
// never changed); a dose of the same reading from a later calibration is a
// new row that names the one it supersedes. A batch's terms (end of
// irradiation, dose limits, decision rule) are rows too; the latest holds.
#include "records/RecordStore.h"

#include <QList>
#include <QString>
#include <optional>

namespace kalvor::records {

struct BatchTermsRecord {
    qint64 seq = 0;
    QString timeUtc;
    qint64 batch = 0;
    QString irradiatedUtc;               // end of irradiation; empty when not given
    std::optional<double> limitLowKGy;   // the product's dose limits
    std::optional<double> limitHighKGy;
    QString decisionRule;                // "simple" or "guard band U"
    QString operatorName;
    QString programVersion;
};

// Decision rules.
inline const QString kSimpleAcceptance = QStringLiteral("simple");
inline const QString kGuardBand = QStringLiteral("guard band U");

struct DoseRecord {
    qint64 seq = 0;
    QString timeUtc;
    qint64 reading = 0;
    qint64 batch = 0;
    QString dosimeterId;
    qint64 calibration = 0;
    QString lot;
    qint64 lotRow = 0;
    double a0 = 0;
    double thicknessMm = 0;
    bool ownThickness = false;
    double response = 0;
    std::optional<double> doseKGy;  // nothing outside the calibrated range
    double uFit = 0;
    double uRead = 0;
    double uRef = 0;
    double uThick = 0;
    double uc = 0;
    double expanded = 0;            // U = 2·u_c
    QStringList flags;              // "below range", "above range", "outside read window"
    QString decision;               // pass, below, above; fail, undecided (guard band); empty without limits
    std::optional<qint64> supersedes;
    QString programVersion;
};

QList<std::pair<QString, QVariantList>> doseRow(const DoseRecord& d);
std::optional<qint64> appendDoses(RecordStore& store, const QList<DoseRecord>& doses, QString* why);
// Every dose row of the batch, in order.
QList<DoseRecord> doses(const RecordStore& store, qint64 batchSeq);
// The batch's doses that no later dose row supersedes, by reading.
QHash<qint64, DoseRecord> currentDoses(const RecordStore& store, qint64 batchSeq);

std::optional<qint64> appendBatchTerms(RecordStore& store, const BatchTermsRecord& terms, QString* why);
std::optional<BatchTermsRecord> batchTerms(const RecordStore& store, qint64 batchSeq);

} // namespace kalvor::records
