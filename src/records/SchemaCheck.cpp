#include "records/SchemaCheck.h"

#include "records/RecordSchema.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

namespace kalvor::records {

namespace {

struct Part {
    QString table;
    QString sql;
};

// Triggers or indexes of the file by name, made by a statement (SQLite's own
// automatic indexes have none).
QHash<QString, Part> parts(const QSqlDatabase& db, const QString& type, QStringList* problems)
{
    QHash<QString, Part> out;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT name, tbl_name, sql FROM sqlite_master WHERE type = ? AND sql IS NOT NULL"));
    q.addBindValue(type);
    if (!q.exec()) {
        *problems << QStringLiteral("cannot read the list of %1s: %2").arg(type, q.lastError().text());
        return out;
    }
    while (q.next())
        out.insert(q.value(0).toString(), Part{q.value(1).toString(), q.value(2).toString().simplified()});
    return out;
}

void checkColumns(const QSqlDatabase& db, const TableSchema& table, int version, QStringList* problems)
{
    struct Actual {
        QString type;
        bool key = false;
    };
    QHash<QString, Actual> actual;
    QStringList order;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table.name))) {
        *problems << QStringLiteral("cannot read table %1: %2").arg(table.name, q.lastError().text());
        return;
    }
    while (q.next()) {
        const QString name = q.value(1).toString();
        actual.insert(name, Actual{q.value(2).toString().toUpper(), q.value(5).toInt() > 0});
        order << name;
    }
    if (actual.isEmpty()) {
        *problems << QStringLiteral("table %1 is missing").arg(table.name);
        return;
    }
    QList<std::pair<QString, QString>> expected{{QStringLiteral("seq"), QStringLiteral("INTEGER")}};
    for (const Column& c : table.columns)
        if (c.since <= version)
            expected.append({c.name, sqlType(c.type)});
    expected.append({QStringLiteral("hash"), QStringLiteral("TEXT")});
    for (const auto& [name, type] : expected) {
        const auto it = actual.constFind(name);
        if (it == actual.cend())
            *problems << QStringLiteral("column %1.%2 is missing").arg(table.name, name);
        else if (it->type != type)
            *problems << QStringLiteral("column %1.%2 is %3, not %4").arg(table.name, name, it->type, type);
        else if (name == QLatin1String("seq") && !it->key)
            *problems << QStringLiteral("column %1.seq is not the table's key").arg(table.name);
        actual.remove(name);
    }
    for (const QString& name : std::as_const(order))
        if (actual.contains(name))
            *problems << QStringLiteral("table %1 has a column %2 that a record store of version %3 does not have "
                                        "(its content is outside the hash chain)")
                             .arg(table.name, name)
                             .arg(version);
}

} // namespace

QStringList schemaProblems(const QSqlDatabase& db, int version)
{
    QStringList problems;
    const QHash<QString, Part> triggers = parts(db, QStringLiteral("trigger"), &problems);
    const QHash<QString, Part> indexes = parts(db, QStringLiteral("index"), &problems);
    QStringList tables;
    for (const TableSchema& t : recordTables()) {
        if (t.since > version)
            continue;
        tables << t.name;
        checkColumns(db, t, version, &problems);
        for (const QString& op : {QStringLiteral("UPDATE"), QStringLiteral("DELETE")}) {
            const QString name = triggerName(t, op);
            const auto it = triggers.constFind(name);
            if (it == triggers.cend())
                problems << QStringLiteral("trigger %1 is missing: rows of %2 can be %3 unnoticed by SQLite")
                                .arg(name, t.name, op == QLatin1String("UPDATE") ? QStringLiteral("changed")
                                                                                 : QStringLiteral("deleted"));
            else if (it->table != t.name || it->sql != triggerSql(t, op).simplified())
                problems << QStringLiteral("trigger %1 is not the one a record store has: %2").arg(name, it->sql);
        }
        for (const QString& index : t.indexes) {
            const QString name = indexName(index);
            const auto it = indexes.constFind(name);
            if (it == indexes.cend())
                problems << QStringLiteral("index %1 is missing").arg(name);
            else if (it->table != t.name || it->sql != indexSql(t, index).simplified())
                problems << QStringLiteral("index %1 is not the one a record store has: %2").arg(name, it->sql);
        }
    }
    // Any other trigger on the records can change what a write does.
    QStringList others;
    for (auto it = triggers.cbegin(); it != triggers.cend(); ++it) {
        bool known = false;
        for (const TableSchema& t : recordTables())
            for (const QString& op : {QStringLiteral("UPDATE"), QStringLiteral("DELETE")})
                known = known || (t.since <= version && it.key() == triggerName(t, op));
        if (!known && tables.contains(it->table))
            others << QStringLiteral("trigger %1 on %2 is not part of a record store: %3").arg(it.key(), it->table, it->sql);
    }
    others.sort();
    return problems + others;
}

} // namespace kalvor::records
