#include "records/Doses.h"

#include "records/RowValues.h"

#include <QSqlQuery>

namespace kalvor::records {

namespace {

using namespace rowvalues;

DoseRecord doseFrom(const QSqlQuery& q)
{
    DoseRecord d;
    int i = 0;
    d.seq = q.value(i++).toLongLong();
    d.timeUtc = q.value(i++).toString();
    d.reading = q.value(i++).toLongLong();
    d.batch = q.value(i++).toLongLong();
    d.dosimeterId = q.value(i++).toString();
    d.calibration = q.value(i++).toLongLong();
    d.lot = q.value(i++).toString();
    d.lotRow = q.value(i++).toLongLong();
    d.a0 = q.value(i++).toDouble();
    d.thicknessMm = q.value(i++).toDouble();
    d.ownThickness = q.value(i++).toInt() != 0;
    d.response = q.value(i++).toDouble();
    d.doseKGy = optReal(q, i++);
    d.uFit = q.value(i++).toDouble();
    d.uRead = q.value(i++).toDouble();
    d.uRef = q.value(i++).toDouble();
    d.uThick = q.value(i++).toDouble();
    d.uc = q.value(i++).toDouble();
    d.expanded = q.value(i++).toDouble();
    d.flags = q.value(i++).toString().split(QStringLiteral("; "), Qt::SkipEmptyParts);
    d.decision = q.value(i++).toString();
    d.supersedes = optInt(q, i++);
    d.programVersion = q.value(i++).toString();
    return d;
}

} // namespace

QList<std::pair<QString, QVariantList>> doseRow(const DoseRecord& d)
{
    return {{QStringLiteral("doses"),
             {textValue(d.timeUtc), d.reading, d.batch, textValue(d.dosimeterId), d.calibration, textValue(d.lot), d.lotRow, d.a0,
              d.thicknessMm, d.ownThickness ? 1 : 0, d.response, orNull(d.doseKGy), d.uFit, d.uRead, d.uRef, d.uThick,
              d.uc, d.expanded, textValue(d.flags.join(QStringLiteral("; "))), textValue(d.decision), orNull(d.supersedes),
              textValue(d.programVersion)}}};
}

std::optional<qint64> appendDoses(RecordStore& store, const QList<DoseRecord>& doses, QString* why)
{
    QList<std::pair<QString, QVariantList>> rows;
    for (const DoseRecord& d : doses)
        rows << doseRow(d);
    return store.appendRows(rows, why);
}

QList<DoseRecord> doses(const RecordStore& store, qint64 batchSeq)
{
    QList<DoseRecord> out;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM doses WHERE batch = ? ORDER BY seq").arg(columns(QStringLiteral("doses"))));
    q.addBindValue(batchSeq);
    if (q.exec())
        while (q.next())
            out << doseFrom(q);
    return out;
}

QHash<qint64, DoseRecord> currentDoses(const RecordStore& store, qint64 batchSeq)
{
    QHash<qint64, DoseRecord> out;
    for (const DoseRecord& d : doses(store, batchSeq))
        out.insert(d.reading, d);  // rows come in order: the latest of each reading stays
    return out;
}

std::optional<qint64> appendBatchTerms(RecordStore& store, const BatchTermsRecord& t, QString* why)
{
    return store.appendRows({{QStringLiteral("batch_terms"),
                              {textValue(t.timeUtc), t.batch, t.irradiatedUtc.isEmpty() ? QVariant() : QVariant(t.irradiatedUtc),
                               orNull(t.limitLowKGy), orNull(t.limitHighKGy), textValue(t.decisionRule), textValue(t.operatorName),
                               textValue(t.programVersion)}}},
                            why);
}

std::optional<BatchTermsRecord> batchTerms(const RecordStore& store, qint64 batchSeq)
{
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT %1 FROM batch_terms WHERE batch = ? ORDER BY seq DESC LIMIT 1")
                  .arg(columns(QStringLiteral("batch_terms"))));
    q.addBindValue(batchSeq);
    if (!q.exec() || !q.next())
        return std::nullopt;
    BatchTermsRecord t;
    int i = 0;
    t.seq = q.value(i++).toLongLong();
    t.timeUtc = q.value(i++).toString();
    t.batch = q.value(i++).toLongLong();
    t.irradiatedUtc = q.isNull(i) ? QString() : q.value(i).toString();
    ++i;
    t.limitLowKGy = optReal(q, i++);
    t.limitHighKGy = optReal(q, i++);
    t.decisionRule = q.value(i++).toString();
    t.operatorName = q.value(i++).toString();
    t.programVersion = q.value(i++).toString();
    return t;
}

} // namespace kalvor::records
