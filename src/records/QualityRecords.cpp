#include "records/QualityRecords.h"

#include "records/Calibrations.h"
#include "records/RowValues.h"

#include <QSqlQuery>
#include <algorithm>

namespace kalvor::records {

namespace {

using namespace rowvalues;

ReferenceSet referenceFrom(const QSqlQuery& q)
{
    ReferenceSet r;
    int i = 0;
    r.seq = q.value(i++).toLongLong();
    r.timeUtc = q.value(i++).toString();
    r.readerSerial = q.value(i++).toString();
    r.wavelength = q.value(i++).toString();
    r.light = q.value(i++).toDouble();
    r.medium = q.value(i++).toDouble();
    r.dark = q.value(i++).toDouble();
    if (!q.isNull(i))
        r.expandedU = q.value(i).toDouble();
    ++i;
    r.tolerance = q.value(i++).toDouble();
    r.certificate = q.value(i++).toString();
    r.certificateDate = QDate::fromString(q.value(i++).toString(), Qt::ISODate);
    if (!q.isNull(i))
        r.supersedes = q.value(i).toLongLong();
    ++i;
    r.operatorName = q.value(i++).toString();
    r.programVersion = q.value(i++).toString();
    return r;
}

VerificationRecord verificationFrom(const QSqlQuery& q)
{
    VerificationRecord v;
    int i = 0;
    v.seq = q.value(i++).toLongLong();
    v.timeUtc = q.value(i++).toString();
    v.lot = q.value(i++).toString();
    v.batch = q.value(i++).toLongLong();
    v.batchName = q.value(i++).toString();
    v.readerSerial = q.value(i++).toString();
    v.wavelength = q.value(i++).toString();
    v.calibration = q.value(i++).toLongLong();
    v.films = q.value(i++).toInt();
    v.meanRatio = q.value(i++).toDouble();
    v.sdRatio = q.value(i++).toDouble();
    v.tolerancePct = q.value(i++).toDouble();
    v.passed = q.value(i++).toInt() != 0;
    v.detail = q.value(i++).toString();
    v.dosesFile = q.value(i++).toString();
    v.dosesSha256 = q.value(i++).toString();
    v.operatorName = q.value(i++).toString();
    v.programVersion = q.value(i++).toString();
    return v;
}

bool sameKey(const ReferenceSet& s, const QString& serial, const QString& wavelength)
{
    return s.readerSerial == serial && normalWavelength(s.wavelength) == normalWavelength(wavelength);
}

} // namespace

std::optional<double> ReferenceSet::absorbance(const QString& filter) const
{
    if (filter == QLatin1String("light"))
        return light;
    if (filter == QLatin1String("medium"))
        return medium;
    if (filter == QLatin1String("dark"))
        return dark;
    return std::nullopt;
}

double defaultTolerance(std::optional<double> expandedU)
{
    return std::max(kDefaultFilterTolerance, expandedU.value_or(0.0));
}

std::optional<qint64> appendReferenceSet(RecordStore& store, const ReferenceSet& r, QString* why)
{
    return store.appendRows({{QStringLiteral("reference_filters"),
                              {textValue(r.timeUtc), textValue(r.readerSerial), textValue(normalWavelength(r.wavelength)), r.light,
                               r.medium, r.dark, orNull(r.expandedU), r.tolerance, textValue(r.certificate),
                               textValue(r.certificateDate.toString(Qt::ISODate)), orNull(r.supersedes),
                               textValue(r.operatorName), textValue(r.programVersion)}}},
                            why);
}

QList<ReferenceSet> referenceSets(const RecordStore& store)
{
    QList<ReferenceSet> out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    if (store.schemaVersion() >= 2
        && q.exec(QStringLiteral("SELECT %1 FROM reference_filters ORDER BY seq").arg(columns(QStringLiteral("reference_filters")))))
        while (q.next())
            out << referenceFrom(q);
    return out;
}

QList<ReferenceSet> currentReferenceSets(const QList<ReferenceSet>& all)
{
    QList<ReferenceSet> out;
    for (const ReferenceSet& s : all) {
        auto it = std::find_if(out.begin(), out.end(), [&](const ReferenceSet& o) { return sameKey(o, s.readerSerial, s.wavelength); });
        if (it == out.end())
            out << s;
        else
            *it = s;
    }
    std::sort(out.begin(), out.end(), [](const ReferenceSet& a, const ReferenceSet& b) {
        return a.readerSerial != b.readerSerial ? a.readerSerial < b.readerSerial : a.wavelength < b.wavelength;
    });
    return out;
}

std::optional<ReferenceSet> referenceFor(const QList<ReferenceSet>& all, const QString& serial, const QString& wavelength,
                                         const QDate& day)
{
    std::optional<ReferenceSet> best;
    std::optional<ReferenceSet> earliest;
    for (const ReferenceSet& s : all) {  // in the order written: a later row of one date wins
        if (!sameKey(s, serial, wavelength))
            continue;
        if (!earliest || s.certificateDate <= earliest->certificateDate)
            earliest = s;
        if (s.certificateDate <= day && (!best || s.certificateDate >= best->certificateDate))
            best = s;
    }
    return best ? best : earliest;
}

std::optional<qint64> appendVerification(RecordStore& store, const VerificationRecord& v, QString* why)
{
    return store.appendRows({{QStringLiteral("verifications"),
                              {textValue(v.timeUtc), textValue(v.lot), v.batch, textValue(v.batchName), textValue(v.readerSerial),
                               textValue(v.wavelength), v.calibration, v.films, v.meanRatio, v.sdRatio, v.tolerancePct,
                               v.passed ? 1 : 0, textValue(v.detail), textValue(v.dosesFile), textValue(v.dosesSha256),
                               textValue(v.operatorName), textValue(v.programVersion)}}},
                            why);
}

QList<VerificationRecord> verifications(const RecordStore& store, const QString& lot)
{
    QList<VerificationRecord> out;
    if (store.schemaVersion() < 2)
        return out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    const QString all = QStringLiteral("SELECT %1 FROM verifications").arg(columns(QStringLiteral("verifications")));
    if (lot.isEmpty()) {
        q.prepare(all + QStringLiteral(" ORDER BY seq"));
    } else {
        q.prepare(all + QStringLiteral(" WHERE lot = ? ORDER BY seq"));
        q.addBindValue(lot);
    }
    if (q.exec())
        while (q.next())
            out << verificationFrom(q);
    return out;
}

} // namespace kalvor::records
