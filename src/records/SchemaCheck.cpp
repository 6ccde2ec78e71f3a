#include "records/SchemaCheck.h"

#include "records/RecordSchema.h"
#include "records/RecordStore.h"

#include <QHash>

namespace kalvor::records {

namespace {

void checkColumns(const RecordStore& store, const TableSchema& table, int version, QStringList* problems)
{
    const StoreBackend& backend = store.backend();
    QString why;
    const std::optional<QList<CatalogueColumn>> columns = backend.columns(store.database(), table.name, &why);
    if (!columns) {
        *problems << QStringLiteral("cannot read table %1: %2").arg(table.name, why);
        return;
    }
    if (columns->isEmpty()) {
        *problems << QStringLiteral("table %1 is missing").arg(table.name);
        return;
    }
    QHash<QString, CatalogueColumn> actual;
    for (const CatalogueColumn& c : *columns)
        actual.insert(c.name, c);
    QList<std::pair<QString, QString>> expected{{QStringLiteral("seq"), backend.columnType(ColumnType::Integer)}};
    for (const Column& c : table.columns)
        if (c.since <= version)
            expected.append({c.name, backend.columnType(c.type)});
    expected.append({QStringLiteral("hash"), backend.columnType(ColumnType::Text)});
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
    for (const CatalogueColumn& c : *columns)
        if (actual.contains(c.name))
            *problems << QStringLiteral("table %1 has a column %2 that a record store of version %3 does not have "
                                        "(its content is outside the hash chain)")
                             .arg(table.name, c.name)
                             .arg(version);
}

QString verb(const QString& operation)
{
    if (operation == QLatin1String("UPDATE"))
        return QStringLiteral("changed");
    if (operation == QLatin1String("DELETE"))
        return QStringLiteral("deleted");
    return QStringLiteral("emptied");
}

} // namespace

QStringList schemaProblems(const RecordStore& store, int version)
{
    const StoreBackend& backend = store.backend();
    const QSqlDatabase db = store.database();
    QStringList problems;
    QString why;
    const auto triggers = backend.triggers(db, &why);
    if (!triggers)
        problems << QStringLiteral("cannot read the list of triggers: %1").arg(why);
    const auto indexes = backend.indexes(db, &why);
    if (!indexes)
        problems << QStringLiteral("cannot read the list of indexes: %1").arg(why);
    const QStringList operations = backend.appendOnlyOperations();
    QStringList tables;
    for (const TableSchema& t : recordTables()) {
        if (t.since > version)
            continue;
        tables << t.name;
        checkColumns(store, t, version, &problems);
        for (const QString& op : operations) {
            const QString name = triggerName(t, op);
            if (!triggers)
                break;
            const auto it = triggers->constFind(name);
            if (it == triggers->cend())
                problems << QStringLiteral("trigger %1 is missing: rows of %2 can be %3 unnoticed by %4")
                                .arg(name, t.name, verb(op), backend.triggerOwner());
            else if (it->table != t.name || it->definition != backend.expectedTrigger(db, t, op))
                problems << QStringLiteral("trigger %1 is not the one a record store has: %2").arg(name, it->definition);
        }
        for (const QString& index : t.indexes) {
            const QString name = indexName(index);
            if (!indexes)
                break;
            const auto it = indexes->constFind(name);
            if (it == indexes->cend())
                problems << QStringLiteral("index %1 is missing").arg(name);
            else if (it->table != t.name || it->definition != backend.expectedIndex(db, t, index))
                problems << QStringLiteral("index %1 is not the one a record store has: %2").arg(name, it->definition);
        }
    }
    problems << backend.supportProblems(db);
    // Any other trigger on the records can change what a write does.
    QStringList others;
    if (triggers)
        for (auto it = triggers->cbegin(); it != triggers->cend(); ++it) {
            bool known = false;
            for (const TableSchema& t : recordTables())
                for (const QString& op : operations)
                    known = known || (t.since <= version && it.key() == triggerName(t, op));
            if (!known && tables.contains(it->table))
                others << QStringLiteral("trigger %1 on %2 is not part of a record store: %3").arg(it.key(), it->table, it->definition);
        }
    others.sort();
    return problems + others;
}

} // namespace kalvor::records
