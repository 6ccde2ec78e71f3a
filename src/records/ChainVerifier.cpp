#include "records/ChainVerifier.h"

#include "records/RecordSchema.h"
#include "records/RecordStore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <memory>
#include <vector>

namespace kalvor::records {

namespace {

// One table read in seq order, one row ahead.
struct Cursor {
    const TableSchema* table = nullptr;
    std::unique_ptr<QSqlQuery> query;
    bool has = false;
    qint64 seq = 0;

    void advance()
    {
        has = query->next();
        seq = has ? query->value(0).toLongLong() : 0;
    }
    QVariantList values() const
    {
        QVariantList out;
        for (int i = 0; i < table->columns.size(); ++i)
            out << (query->isNull(i + 1) ? QVariant() : query->value(i + 1));
        return out;
    }
    QByteArray hash() const { return query->value(table->columns.size() + 1).toString().toLatin1(); }
};

QString describe(const TableSchema& table, const QVariantList& values)
{
    const int id = table.indexOf(QStringLiteral("dosimeter_id"));
    if (id >= 0)
        return QStringLiteral(" (dosimeter %1)").arg(values.value(id).toString());
    const int kind = table.indexOf(QStringLiteral("kind"));
    if (kind >= 0)
        return QStringLiteral(" (%1)").arg(values.value(kind).toString());
    const int name = table.indexOf(QStringLiteral("name"));
    if (name >= 0)
        return QStringLiteral(" (batch %1)").arg(values.value(name).toString());
    return {};
}

} // namespace

QString ChainReport::summary() const
{
    if (!integrityOk)
        return QStringLiteral("the file fails SQLite's integrity check: %1").arg(integrityText);
    if (firstBreak) {
        if (firstBreak->table.isEmpty())
            return QStringLiteral("the record chain breaks at row %1: %2").arg(firstBreak->seq).arg(firstBreak->what);
        return QStringLiteral("the record chain breaks at row %1 of %2: %3")
            .arg(firstBreak->seq)
            .arg(firstBreak->table, firstBreak->what);
    }
    return QStringLiteral("chain intact: %1 rows, last hash %2").arg(rows).arg(QString::fromLatin1(lastHash));
}

ChainReport verifyChain(const RecordStore& store)
{
    ChainReport report;
    QSqlQuery check(store.database());
    if (!check.exec(QStringLiteral("PRAGMA integrity_check"))) {
        report.integrityText = check.lastError().text();
        return report;
    }
    QStringList problems;
    while (check.next())
        problems << check.value(0).toString();
    report.integrityText = problems.join(QStringLiteral("; "));
    report.integrityOk = problems == QStringList{QStringLiteral("ok")};
    if (!report.integrityOk)
        return report;

    std::vector<Cursor> cursors;
    for (const TableSchema& t : recordTables()) {
        Cursor c;
        c.table = &t;
        c.query = std::make_unique<QSqlQuery>(store.database());
        c.query->setForwardOnly(true);
        QStringList cols{QStringLiteral("seq")};
        for (const Column& col : t.columns)
            cols << col.name;
        cols << QStringLiteral("hash");
        if (!c.query->exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY seq").arg(cols.join(QLatin1Char(',')), t.name))) {
            report.firstBreak = ChainReport::Break{0, t.name, c.query->lastError().text()};
            return report;
        }
        c.advance();
        cursors.push_back(std::move(c));
    }

    QByteArray previous = genesisHash();
    qint64 expected = 1;
    for (;;) {
        Cursor* next = nullptr;
        for (Cursor& c : cursors)
            if (c.has && (!next || c.seq < next->seq))
                next = &c;
        if (!next)
            break;
        const QVariantList values = next->values();
        const QString where = describe(*next->table, values);
        if (next->seq != expected) {
            report.firstBreak = next->seq > expected
                                    ? ChainReport::Break{expected, QString(),
                                                         QStringLiteral("the row is missing (the next row is %1 of %2)")
                                                             .arg(next->seq)
                                                             .arg(next->table->name)}
                                    : ChainReport::Break{next->seq, next->table->name + where,
                                                         QStringLiteral("its number is used twice")};
            return report;
        }
        const QByteArray hash = chainHash(previous, canonicalContent(*next->table, next->seq, values));
        if (hash != next->hash()) {
            report.firstBreak = ChainReport::Break{next->seq, next->table->name + where,
                                                   QStringLiteral("its content does not match its hash "
                                                                  "(it was changed after it was written, or "
                                                                  "the row before it was re-hashed)")};
            return report;
        }
        previous = hash;
        ++expected;
        ++report.rows;
        next->advance();
    }
    report.lastHash = previous;
    return report;
}

} // namespace kalvor::records
