#include "records/Calibrations.h"

#include "records/RowValues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>

namespace kalvor::records {

namespace {

using namespace rowvalues;

QString backgroundsJson(const QList<LotBackground>& list)
{
    QJsonArray out;
    for (const LotBackground& b : list) {
        QJsonObject o{{QStringLiteral("wavelength"), b.wavelength}, {QStringLiteral("a0"), b.a0},
                      {QStringLiteral("films"), b.films}};
        if (b.sd)
            o.insert(QStringLiteral("sd"), *b.sd);
        if (!b.batch.isEmpty())
            o.insert(QStringLiteral("batch"), b.batch);
        out.append(o);
    }
    return QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact));
}

QList<LotBackground> backgroundsFrom(const QString& json)
{
    QList<LotBackground> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(json.toUtf8()).array()) {
        const QJsonObject o = v.toObject();
        LotBackground b;
        b.wavelength = o.value(QStringLiteral("wavelength")).toString();
        b.a0 = o.value(QStringLiteral("a0")).toDouble();
        if (o.contains(QStringLiteral("sd")))
            b.sd = o.value(QStringLiteral("sd")).toDouble();
        b.films = o.value(QStringLiteral("films")).toInt();
        b.batch = o.value(QStringLiteral("batch")).toString();
        out.append(b);
    }
    return out;
}

LotRecord lotFrom(const QSqlQuery& q)
{
    LotRecord l;
    int i = 0;
    l.seq = q.value(i++).toLongLong();
    l.timeUtc = q.value(i++).toString();
    l.name = q.value(i++).toString();
    l.filmType = q.value(i++).toString();
    l.thicknessMm = q.value(i++).toDouble();
    l.thicknessUMm = q.value(i++).toDouble();
    l.backgrounds = backgroundsFrom(q.value(i++).toString());
    l.notes = q.value(i++).toString();
    l.supersedes = optInt(q, i++);
    l.operatorName = q.value(i++).toString();
    l.programVersion = q.value(i++).toString();
    return l;
}

CalibrationRecord calibrationFrom(const QSqlQuery& q)
{
    CalibrationRecord c;
    int i = 0;
    c.seq = q.value(i++).toLongLong();
    c.timeUtc = q.value(i++).toString();
    c.lot = q.value(i++).toString();
    c.lotRow = q.value(i++).toLongLong();
    c.readerSerial = q.value(i++).toString();
    c.wavelength = q.value(i++).toString();
    c.batch = optInt(q, i++);
    c.model = q.value(i++).toString();
    c.throughZero = q.value(i++).toInt() != 0;
    c.referenceU = q.value(i++).toDouble();
    c.rangeMin = q.value(i++).toDouble();
    c.rangeMax = q.value(i++).toDouble();
    c.readWindow = q.value(i++).toString();
    c.fit = QJsonDocument::fromJson(q.value(i++).toString().toUtf8()).object();
    c.dosesFile = q.value(i++).toString();
    c.dosesSha256 = q.value(i++).toString();
    c.operatorName = q.value(i++).toString();
    c.programVersion = q.value(i++).toString();
    return c;
}

ApprovalRecord approvalFrom(const QSqlQuery& q)
{
    ApprovalRecord a;
    int i = 0;
    a.seq = q.value(i++).toLongLong();
    a.timeUtc = q.value(i++).toString();
    a.calibration = q.value(i++).toLongLong();
    a.approverLogin = q.value(i++).toString();
    a.approverName = q.value(i++).toString();
    a.reason = q.value(i++).toString();
    a.supersedes = optInt(q, i++);
    a.programVersion = q.value(i++).toString();
    return a;
}

} // namespace

std::optional<LotBackground> LotRecord::background(const QString& wavelength) const
{
    const QString wanted = normalWavelength(wavelength);
    for (const LotBackground& b : backgrounds)
        if (normalWavelength(b.wavelength) == wanted)
            return b;
    return std::nullopt;
}

QString normalWavelength(const QString& text)
{
    QString t = text.trimmed();
    if (t.endsWith(QLatin1String("nm"), Qt::CaseInsensitive))
        t.chop(2);
    return t.trimmed() + QStringLiteral(" nm");
}

std::optional<qint64> appendLot(RecordStore& store, const LotRecord& l, QString* why)
{
    return store.appendRows({{QStringLiteral("lots"),
                              {textValue(l.timeUtc), textValue(l.name), textValue(l.filmType), l.thicknessMm, l.thicknessUMm,
                               textValue(backgroundsJson(l.backgrounds)), textValue(l.notes), orNull(l.supersedes),
                               textValue(l.operatorName), textValue(l.programVersion)}}},
                            why);
}

QList<LotRecord> currentLots(const RecordStore& store)
{
    QList<LotRecord> out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT %1 FROM lots l WHERE seq = (SELECT max(seq) FROM lots m WHERE m.name = l.name) "
                              "ORDER BY name")
                   .arg(columns(QStringLiteral("lots")))))
        while (q.next())
            out << lotFrom(q);
    return out;
}

std::optional<LotRecord> currentLot(const RecordStore& store, const QString& name)
{
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT %1 FROM lots WHERE name = ? ORDER BY seq DESC LIMIT 1").arg(columns(QStringLiteral("lots"))));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return lotFrom(q);
    return std::nullopt;
}

std::optional<LotRecord> lotRow(const RecordStore& store, qint64 seq)
{
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT %1 FROM lots WHERE seq = ?").arg(columns(QStringLiteral("lots"))));
    q.addBindValue(seq);
    if (q.exec() && q.next())
        return lotFrom(q);
    return std::nullopt;
}

std::optional<qint64> appendCalibration(RecordStore& store, const CalibrationRecord& c, QString* why)
{
    return store.appendRows(
        {{QStringLiteral("calibrations"),
          {textValue(c.timeUtc), textValue(c.lot), c.lotRow, textValue(c.readerSerial), textValue(c.wavelength), orNull(c.batch),
           textValue(c.model), c.throughZero ? 1 : 0, c.referenceU, c.rangeMin, c.rangeMax,
           c.readWindow.isEmpty() ? QVariant() : QVariant(c.readWindow),
           textValue(QString::fromUtf8(QJsonDocument(c.fit).toJson(QJsonDocument::Compact))), textValue(c.dosesFile),
           textValue(c.dosesSha256), textValue(c.operatorName), textValue(c.programVersion)}}},
        why);
}

std::optional<CalibrationRecord> calibration(const RecordStore& store, qint64 seq)
{
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT %1 FROM calibrations WHERE seq = ?").arg(columns(QStringLiteral("calibrations"))));
    q.addBindValue(seq);
    if (q.exec() && q.next())
        return calibrationFrom(q);
    return std::nullopt;
}

QList<CalibrationRecord> calibrations(const RecordStore& store, const QString& lot)
{
    QList<CalibrationRecord> out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    const QString all = QStringLiteral("SELECT %1 FROM calibrations").arg(columns(QStringLiteral("calibrations")));
    if (lot.isEmpty()) {
        q.prepare(all + QStringLiteral(" ORDER BY seq"));
    } else {
        q.prepare(all + QStringLiteral(" WHERE lot = ? ORDER BY seq"));
        q.addBindValue(lot);
    }
    if (q.exec())
        while (q.next())
            out << calibrationFrom(q);
    return out;
}

std::optional<qint64> appendApproval(RecordStore& store, const ApprovalRecord& a, QString* why)
{
    return store.appendRows({{QStringLiteral("approvals"),
                              {textValue(a.timeUtc), a.calibration, textValue(a.approverLogin), textValue(a.approverName),
                               textValue(a.reason), orNull(a.supersedes), textValue(a.programVersion)}}},
                            why);
}

QList<ApprovalRecord> approvals(const RecordStore& store, std::optional<qint64> calibrationSeq)
{
    QList<ApprovalRecord> out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    const QString all = QStringLiteral("SELECT %1 FROM approvals").arg(columns(QStringLiteral("approvals")));
    if (calibrationSeq) {
        q.prepare(all + QStringLiteral(" WHERE calibration = ? ORDER BY seq"));
        q.addBindValue(*calibrationSeq);
    } else {
        q.prepare(all + QStringLiteral(" ORDER BY seq"));
    }
    if (q.exec())
        while (q.next())
            out << approvalFrom(q);
    return out;
}

std::optional<CalibrationRecord> approvedCalibration(const RecordStore& store, const QString& lot,
                                                     const QString& readerSerial, const QString& wavelength)
{
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT c.seq, c.wavelength FROM approvals a JOIN calibrations c ON a.calibration = c.seq "
                             "WHERE c.lot = ? AND c.reader_serial = ? ORDER BY a.seq DESC"));
    q.addBindValue(lot);
    q.addBindValue(readerSerial);
    if (!q.exec())
        return std::nullopt;
    const QString wanted = normalWavelength(wavelength);
    while (q.next())
        if (normalWavelength(q.value(1).toString()) == wanted)
            return calibration(store, q.value(0).toLongLong());
    return std::nullopt;
}

} // namespace kalvor::records
