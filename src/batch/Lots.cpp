#include "batch/Lots.h"

#include "batch/BatchSession.h"
#include "records/CurrentRecords.h"

#include <QLocale>
#include <QMap>
#include <cmath>

namespace kalvor::batch {

namespace {

QString fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

} // namespace

std::optional<QList<LotBackground>> backgroundsOf(const RecordStore& store, const QString& batchName, QString* why)
{
    const std::optional<BatchRecord> batch = store.batchNamed(batchName);
    if (!batch) {
        *why = QStringLiteral("there is no batch %1").arg(batchName);
        return std::nullopt;
    }
    const QList<ReadingRecord> readings = store.readings(batch->seq);
    const QSet<qint64> superseded = supersededReadings(readings);
    QMap<QString, QList<double>> byWavelength;
    for (const ReadingRecord& r : readings)
        if (!superseded.contains(r.seq) && !r.isVoid() && r.absorbance)
            byWavelength[normalWavelength(r.wavelength)] << *r.absorbance;
    if (byWavelength.isEmpty()) {
        *why = QStringLiteral("batch %1 holds no reading").arg(batchName);
        return std::nullopt;
    }
    QList<LotBackground> out;
    for (auto it = byWavelength.cbegin(); it != byWavelength.cend(); ++it) {
        const QList<double>& v = it.value();
        double mean = 0;
        for (double x : v)
            mean += x / double(v.size());
        LotBackground b;
        b.wavelength = it.key();
        b.a0 = mean;
        b.films = int(v.size());
        b.batch = batchName;
        if (v.size() > 1) {
            double ss = 0;
            for (double x : v)
                ss += (x - mean) * (x - mean);
            b.sd = std::sqrt(ss / double(v.size() - 1));
        }
        out << b;
    }
    return out;
}

std::optional<LotBackground> typedBackground(double a0, const QString& wavelength, QString* why)
{
    if (!std::isfinite(a0) || a0 < kMinBackground || a0 > kMaxBackground) {
        *why = QStringLiteral("the background is an absorbance from %1 to %2").arg(kMinBackground).arg(kMaxBackground);
        return std::nullopt;
    }
    bool ok = false;
    const double nm = QLocale::c().toDouble(QString(wavelength).remove(QStringLiteral("nm")).trimmed(), &ok);
    if (!ok || !(nm > 0)) {
        *why = QStringLiteral("the background's wavelength is a wavelength in nm, e.g. 510");
        return std::nullopt;
    }
    return LotBackground{normalWavelength(wavelength), a0, std::nullopt, 0, QString()};
}

QString lotChangeProblem(const LotChange& change)
{
    const QString name = change.name.trimmed();
    if (name.isEmpty())
        return QStringLiteral("a lot needs a name");
    for (const auto& [what, text] : {std::pair{QStringLiteral("lot name"), name},
                                     std::pair{QStringLiteral("film type"), change.filmType.value_or(QString())},
                                     std::pair{QStringLiteral("operator's name"), change.operatorName}})
        if (const QString problem = BatchSession::nameProblem(what, text); !problem.isEmpty())
            return problem;
    if (const QString problem = BatchSession::nameProblem(QStringLiteral("notes"), change.notes.value_or(QString()), kMaxNotesLength);
        !problem.isEmpty())
        return problem;
    if (change.thicknessMm
        && (!std::isfinite(*change.thicknessMm) || *change.thicknessMm <= 0 || *change.thicknessMm > kMaxThicknessMm))
        return QStringLiteral("the nominal thickness is in mm, more than 0 and at most %1").arg(kMaxThicknessMm);
    if (change.thicknessUMm && (!std::isfinite(*change.thicknessUMm) || *change.thicknessUMm < 0))
        return QStringLiteral("the thickness's standard uncertainty is in mm, at least 0 and below the thickness");
    return {};
}

std::optional<LotRecord> changedLot(const RecordStore& store, const LotChange& change, QString* why)
{
    if (const QString problem = lotChangeProblem(change); !problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    const QString name = change.name.trimmed();
    const std::optional<LotRecord> before = currentLot(store, name);
    LotRecord lot = before.value_or(LotRecord{});
    lot.seq = 0;
    lot.name = name;
    lot.supersedes = before ? std::optional<qint64>(before->seq) : std::nullopt;
    if (change.thicknessMm) {
        lot.thicknessMm = *change.thicknessMm;
    } else if (!before) {
        *why = QStringLiteral("a new lot needs its nominal thickness");
        return std::nullopt;
    }
    if (change.thicknessUMm) {
        if (*change.thicknessUMm >= lot.thicknessMm) {
            *why = QStringLiteral("the thickness's standard uncertainty is in mm, at least 0 and below the thickness");
            return std::nullopt;
        }
        lot.thicknessUMm = *change.thicknessUMm;
    }
    if (change.filmType)
        lot.filmType = change.filmType->trimmed();
    if (change.notes)
        lot.notes = change.notes->trimmed();
    for (const LotBackground& b : change.backgrounds) {
        const QString wavelength = normalWavelength(b.wavelength);
        lot.backgrounds.removeIf([&](const LotBackground& old) { return normalWavelength(old.wavelength) == wavelength; });
        lot.backgrounds << b;
        lot.backgrounds.last().wavelength = wavelength;
    }
    lot.timeUtc = utcNow();
    lot.operatorName = change.operatorName.trimmed().isEmpty() ? BatchSession::loginName() : change.operatorName.trimmed();
    lot.programVersion = QStringLiteral(KALVOR_VERSION);
    return lot;
}

QList<CalibrationRecord> approvedCalibrations(const RecordStore& store, const QString& lot)
{
    QList<CalibrationRecord> out;
    for (const CalibrationRecord& c : calibrations(store, lot)) {
        const std::optional<CalibrationRecord> current = approvedCalibration(store, c.lot, c.readerSerial, c.wavelength);
        if (current && current->seq == c.seq)
            out << c;
    }
    return out;
}

QString backgroundText(const LotBackground& b)
{
    if (b.films == 0)
        return QStringLiteral("%1 (typed)").arg(fixed(b.a0, 4));
    QString from = QStringLiteral("%1 (mean of %2 %3 of %4")
                       .arg(fixed(b.a0, 4))
                       .arg(b.films)
                       .arg(b.films == 1 ? QStringLiteral("film") : QStringLiteral("films"), b.batch);
    if (b.sd)
        from += QStringLiteral(", SD %1").arg(fixed(*b.sd, 4));
    return from + QLatin1Char(')');
}

} // namespace kalvor::batch
