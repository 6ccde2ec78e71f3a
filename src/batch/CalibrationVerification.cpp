#include "batch/CalibrationVerification.h"

#include "calib/Statistics.h"
#include "records/Csv.h"
#include "records/CurrentRecords.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cmath>

namespace kalvor::batch {

using namespace kalvor::records;

std::optional<QList<ReferenceDose>> parseReferenceDoses(const QString& text, const QString& name, QString* why)
{
    QList<QStringList> rows;
    QList<int> lines;
    QString parseWhy;
    if (!csv::parse(text, &rows, &parseWhy, &lines)) {
        *why = QStringLiteral("%1: %2").arg(name, parseWhy);
        return std::nullopt;
    }
    if (rows.isEmpty()) {
        *why = QStringLiteral("%1 is empty: it needs a header row naming the columns id and dose_kGy (or dose_Gy), "
                              "then one row per film")
                   .arg(name);
        return std::nullopt;
    }
    qsizetype idColumn = -1, doseColumn = -1;
    double scale = 1;
    for (qsizetype i = 0; i < rows[0].size(); ++i) {
        const QString h = rows[0][i].trimmed().toLower();
        if ((h == QLatin1String("id") || h == QLatin1String("dosimeter")) && idColumn < 0)
            idColumn = i;
        else if ((h == QLatin1String("dose_kgy") || h == QLatin1String("dose_gy")) && doseColumn < 0) {
            doseColumn = i;
            scale = h == QLatin1String("dose_gy") ? 0.001 : 1;
        }
    }
    if (idColumn < 0 || doseColumn < 0) {
        *why = QStringLiteral("%1: line %2: the header row has no column %3 (it needs id and dose_kGy or dose_Gy, "
                              "separated by commas)")
                   .arg(name)
                   .arg(lines[0])
                   .arg(idColumn < 0 ? QStringLiteral("id") : QStringLiteral("dose_kGy or dose_Gy"));
        return std::nullopt;
    }
    QList<ReferenceDose> doses;
    QHash<QString, int> seen;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        auto fail = [&](const QString& what) {
            *why = QStringLiteral("%1: line %2: %3").arg(name).arg(lines[r]).arg(what);
            return std::nullopt;
        };
        const QString id = rows[r].value(idColumn).trimmed();
        const QString field = rows[r].value(doseColumn).trimmed();
        if (id.isEmpty())
            return fail(QStringLiteral("no film ID"));
        if (seen.contains(id))
            return fail(QStringLiteral("%1 is listed on line %2 already").arg(id).arg(seen.value(id)));
        if (field.isEmpty())
            return fail(QStringLiteral("no dose for %1").arg(id));
        bool ok = false;
        const double dose = QLocale::c().toDouble(field, &ok);
        if (!ok)
            return fail(QStringLiteral("dose \"%1\" is not a number").arg(field));
        if (!std::isfinite(dose) || dose <= 0)
            return fail(QStringLiteral("dose %1 is not a positive finite number").arg(field));
        seen.insert(id, lines[r]);
        doses << ReferenceDose{id, dose * scale, lines[r]};
    }
    if (doses.isEmpty()) {
        *why = QStringLiteral("%1 has a header row but no films").arg(name);
        return std::nullopt;
    }
    return doses;
}

std::optional<Verification> verifyCalibration(const RecordStore& store, const QString& lot, const QString& batchName,
                                              const QList<ReferenceDose>& doses, double tolerancePct, QString* why)
{
    const std::optional<BatchRecord> batch = store.batchNamed(batchName);
    if (!batch) {
        *why = QStringLiteral("there is no batch %1 in the store").arg(batchName);
        return std::nullopt;
    }
    if (!batch->lot.isEmpty() && batch->lot != lot) {
        *why = QStringLiteral("batch %1 is of lot %2, not %3").arg(batchName, batch->lot, lot);
        return std::nullopt;
    }
    const QList<ReadingRecord> readings = store.readings(batch->seq);
    const QList<bool> current = currentFlags(readings);
    QHash<QString, ReadingRecord> byId;
    for (qsizetype i = 0; i < readings.size(); ++i)
        if (current[i])
            byId.insert(readings[i].dosimeterId, readings[i]);

    Verification v;
    VerificationRecord& r = v.record;
    r.timeUtc = utcNow();
    r.lot = lot;
    r.batch = batch->seq;
    r.batchName = batch->name;
    r.tolerancePct = tolerancePct;
    std::vector<double> ratios;
    QHash<QString, bool> listed;
    for (const ReferenceDose& d : doses) {
        listed.insert(d.id, true);
        const auto it = byId.constFind(d.id);
        if (it == byId.constEnd()) {
            *why = QStringLiteral("line %1: film %2 has no reading in batch %3").arg(d.line).arg(d.id, batchName);
            return std::nullopt;
        }
        VerifiedFilm f;
        f.id = d.id;
        f.referenceKGy = d.doseKGy;
        if (it->isVoid()) {
            f.leftOut = QStringLiteral("void: %1").arg(it->reason);
            v.films << f;
            continue;
        }
        QString doseWhy;
        const std::optional<FilmDose> dose = doseOfReading(store, lot, *it, &doseWhy);
        if (!dose) {
            *why = QStringLiteral("film %1: %2").arg(d.id, doseWhy);
            return std::nullopt;
        }
        if (r.calibration == 0) {
            r.calibration = dose->calibration.seq;
            r.readerSerial = it->readerSerial;
            r.wavelength = normalWavelength(it->wavelength);
        } else if (dose->calibration.seq != r.calibration) {
            *why = QStringLiteral("film %1 was read with reader %2 at %3, the films before it with reader %4 at %5: a "
                                  "verification checks one calibration")
                       .arg(d.id, it->readerSerial, normalWavelength(it->wavelength), r.readerSerial, r.wavelength);
            return std::nullopt;
        }
        if (!dose->estimate.inversion.dose) {
            f.leftOut = calib::flagText(dose->estimate.inversion.flag);
            v.films << f;
            continue;
        }
        f.measuredKGy = *dose->estimate.inversion.dose;
        f.expandedUKGy = dose->estimate.uncertainty ? dose->estimate.uncertainty->expanded : 0;
        f.ratio = *f.measuredKGy / d.doseKGy;
        ratios.push_back(*f.ratio);
        v.films << f;
    }
    for (auto it = byId.cbegin(); it != byId.cend(); ++it)
        v.unlisted += listed.contains(it.key()) ? 0 : 1;
    if (ratios.empty()) {
        *why = QStringLiteral("no film of the file has a dose to compare (each is void or outside the calibrated range)");
        return std::nullopt;
    }
    const calib::MeanSd stats = calib::meanSd(ratios);
    r.films = stats.n;
    r.meanRatio = stats.mean;
    r.sdRatio = stats.sd;
    r.passed = std::abs(stats.mean - 1.0) * 100 <= tolerancePct + 1e-9;
    r.detail = verificationDetail(v);
    return v;
}

QString verificationDetail(const Verification& v)
{
    QJsonArray films;
    for (const VerifiedFilm& f : v.films) {
        QJsonObject o{{QStringLiteral("id"), f.id}, {QStringLiteral("reference_kGy"), f.referenceKGy}};
        if (f.measuredKGy) {
            o.insert(QStringLiteral("measured_kGy"), *f.measuredKGy);
            o.insert(QStringLiteral("U_kGy"), f.expandedUKGy);
            o.insert(QStringLiteral("ratio"), *f.ratio);
        } else {
            o.insert(QStringLiteral("left_out"), f.leftOut);
        }
        films.append(o);
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("films"), films}, {QStringLiteral("unlisted"), v.unlisted}})
                                 .toJson(QJsonDocument::Compact));
}

QList<VerifiedFilm> filmsOfDetail(const QString& detail)
{
    QList<VerifiedFilm> out;
    for (const QJsonValue& value : QJsonDocument::fromJson(detail.toUtf8()).object().value(QStringLiteral("films")).toArray()) {
        const QJsonObject o = value.toObject();
        VerifiedFilm f;
        f.id = o.value(QStringLiteral("id")).toString();
        f.referenceKGy = o.value(QStringLiteral("reference_kGy")).toDouble();
        if (o.contains(QStringLiteral("ratio"))) {
            f.measuredKGy = o.value(QStringLiteral("measured_kGy")).toDouble();
            f.expandedUKGy = o.value(QStringLiteral("U_kGy")).toDouble();
            f.ratio = o.value(QStringLiteral("ratio")).toDouble();
        }
        f.leftOut = o.value(QStringLiteral("left_out")).toString();
        out << f;
    }
    return out;
}

QString verificationReport(const Verification& v)
{
    const VerificationRecord& r = v.record;
    QString out = QStringLiteral("Verification of lot %1 with batch %2: calibration %3, reader %4 at %5\n\n")
                      .arg(r.lot, r.batchName)
                      .arg(r.calibration)
                      .arg(r.readerSerial, r.wavelength);
    out += QStringLiteral("%1 %2 %3 %4 %5\n")
               .arg(QStringLiteral("film"), -16)
               .arg(QStringLiteral("reference kGy"), 14)
               .arg(QStringLiteral("measured kGy"), 13)
               .arg(QStringLiteral("U kGy"), 9)
               .arg(QStringLiteral("ratio"), 8);
    for (const VerifiedFilm& f : v.films) {
        out += QStringLiteral("%1 %2 ").arg(f.id, -16).arg(QString::number(f.referenceKGy, 'f', 3), 14);
        if (f.ratio)
            out += QStringLiteral("%1 %2 %3\n")
                       .arg(QString::number(*f.measuredKGy, 'f', 3), 13)
                       .arg(QString::number(f.expandedUKGy, 'f', 3), 9)
                       .arg(QString::number(*f.ratio, 'f', 4), 8);
        else
            out += QStringLiteral("left out: %1\n").arg(f.leftOut);
    }
    out += QStringLiteral("\n%1 films: mean ratio %2, SD %3; tolerance ±%4 %: %5\n")
               .arg(r.films)
               .arg(QString::number(r.meanRatio, 'f', 4), QString::number(r.sdRatio, 'f', 4),
                    QString::number(r.tolerancePct, 'g', 4),
                    r.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL (the mean is %1 % from 1)")
                                                             .arg(QString::number((r.meanRatio - 1) * 100, 'f', 2)));
    if (v.unlisted > 0)
        out += QStringLiteral("%1 further film%2 of the batch not in the file, not counted\n")
                   .arg(v.unlisted)
                   .arg(v.unlisted == 1 ? "" : "s");
    return out;
}

} // namespace kalvor::batch
