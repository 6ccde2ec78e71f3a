#pragma once
// A record store filled as the lab fills it, without the reader: lot L1
// (0.1 mm, A0 0.150 at 510 nm), an exp calibration of it for reader 1500
// fitted to 5 dose levels × 3 films of a known response curve and approved,
// and batches of positioned films of known dose, each reading stored with
// its dose row as the batch window stores it. For the report's tests and
// its benchmark.
#include "batch/CalibrationBuilder.h"
#include "batch/DoseAssessment.h"
#include "batch/Dosimetry.h"
#include "calib/CalibrationJson.h"
#include "records/Doses.h"

#include <cmath>

namespace kalvor::reporttest {

using namespace kalvor::records;

constexpr double kA0 = 0.150;
constexpr double kThickness = 0.1;
inline const QString kWavelength = QStringLiteral("510 nm");
inline double response(double kGy) { return 20.0 * (1.0 - std::exp(-0.02 * kGy)); }
inline double absorbance(double kGy) { return kA0 + kThickness * response(kGy); }

// The lot and its approved calibration; false with `why` when one could not be stored.
inline bool addCalibratedLot(RecordStore& store, QString* why)
{
    LotRecord lot;
    lot.timeUtc = utcNow();
    lot.name = QStringLiteral("L1");
    lot.filmType = QStringLiteral("radiochromic film");
    lot.thicknessMm = kThickness;
    lot.thicknessUMm = 0.002;
    lot.backgrounds = {LotBackground{kWavelength, kA0, 0.001, 3, QStringLiteral("bg")}};
    const std::optional<qint64> lotSeq = appendLot(store, lot, why);
    std::vector<calib::Point> points;
    for (double d : {5.0, 10.0, 20.0, 40.0, 60.0})
        for (double wobble : {-0.004, 0.0, 0.004})
            points.push_back({d, response(d) * (1 + wobble)});
    const calib::FitResult fit = calib::fitCalibration(*calib::Model::parse(QStringLiteral("exp"), false), points);
    if (!lotSeq || !fit.ok())
        return false;
    CalibrationRecord c;
    c.timeUtc = utcNow();
    c.lot = lot.name;
    c.lotRow = *lotSeq;
    c.readerSerial = QStringLiteral("1500");
    c.wavelength = kWavelength;
    c.model = QStringLiteral("exp");
    c.referenceU = 0.015;
    c.rangeMin = 5;
    c.rangeMax = 60;
    c.fit = calib::calibrationToJson(*fit.calibration);
    c.operatorName = QStringLiteral("cal");
    const std::optional<qint64> id = appendCalibration(store, c, why);
    return id && batch::approveCalibration(store, *id, QStringLiteral("Q. A. Manager"), QStringLiteral("lot L1"), why);
}

// Batch `name` of films M-001.. at the doses given, limits 20..45 kGy, each
// reading with its dose (`lot` empty: an absorbance batch). False with `why`.
inline bool addBatch(RecordStore& store, const QString& name, const QString& lot, const QList<double>& doses, QString* why)
{
    BatchRecord b;
    b.name = name;
    b.operatorName = QStringLiteral("ann");
    b.lot = lot;
    b.openedUtc = utcNow();
    b.programVersion = QStringLiteral("1.1.0");
    const std::optional<qint64> batchSeq = store.appendBatch(b, why);
    if (!batchSeq)
        return false;
    BatchTermsRecord terms;
    terms.timeUtc = utcNow();
    terms.batch = *batchSeq;
    terms.limitLowKGy = 20;
    terms.limitHighKGy = 45;
    terms.decisionRule = kSimpleAcceptance;
    if (!appendBatchTerms(store, terms, why))
        return false;
    std::optional<batch::DoseBasis> basis;
    if (!lot.isEmpty() && !(basis = batch::doseBasis(store, lot, QStringLiteral("1500"), kWavelength, why)))
        return false;
    for (int i = 0; i < doses.size(); ++i) {
        ReadingRecord r;
        r.batch = *batchSeq;
        r.dosimeterId = QStringLiteral("M-%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        r.timeUtc = utcNow();
        r.absorbance = std::round(absorbance(doses[i]) * 1000) / 1000;
        r.shown = QString::number(*r.absorbance, 'f', 3);
        r.spread = 0.001;
        r.count = 3;
        r.wavelength = kWavelength;
        r.readerModel = QStringLiteral("KALVOR");
        r.readerSerial = QStringLiteral("1500");
        r.readerGain = QStringLiteral("1.9");
        r.status = QStringLiteral("ok");
        r.operatorName = b.operatorName;
        r.trigger = QStringLiteral("sensor");
        r.position = QStringLiteral("shelf %1, slot %2").arg(i / 20 + 1).arg(i % 20 + 1);
        EventRecord e;
        e.timeUtc = r.timeUtc;
        e.kind = event::Capture;
        e.batch = *batchSeq;
        e.detail = r.dosimeterId;
        const auto doseRow = [&](qint64 seq) -> QList<std::pair<QString, QVariantList>> {
            if (!basis)
                return {};
            ReadingRecord stored = r;
            stored.seq = seq;
            return records::doseRow(batch::doseRecord(
                batch::doseFromAbsorbance(*basis, kWavelength, *r.absorbance, std::nullopt, r.spread, r.count), stored,
                terms));
        };
        if (!store.appendReading(r, e, doseRow, why))
            return false;
    }
    return true;
}

} // namespace kalvor::reporttest
