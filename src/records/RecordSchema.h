#pragma once
// The tables of the record store and the canonical content of one row, which
// the row's hash covers. Every table has `seq` (one numbering over all tables,
// the order in which rows were written) and `hash`, besides the columns below.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

namespace kalvor::records {

enum class ColumnType { Integer, Real, Text };

struct Column {
    QString name;
    ColumnType type;
    int since = 1;  // the schema version that added it
    QByteArray canonicalKey = {};  // "name=T" of the canonical content; made from name and type when empty
};

struct TableSchema {
    QString name;
    QList<Column> columns;  // without seq and hash, in canonical order
    int since = 1;          // the schema version that added the table
    QStringList indexes;    // "name(columns)", made with the table
    bool large = false;     // a row or more for every reading: most of a store's rows

    int indexOf(const QString& column) const;
};

// The schema version this program writes. A store of an older version is
// migrated on open: tables and columns of later versions are added (columns
// NULL in the rows already there, so their hashes hold), nothing else changes.
inline constexpr int kSchemaVersion = 2;

// Every table of the store, in the order they are created.
const QList<TableSchema>& recordTables();
const TableSchema& recordTable(const QString& name);

// The names of the table's parts, and the statement that makes an index, as
// every version makes them; the column types and the triggers' statements
// are the back end's (StoreBackend.h).
QString triggerName(const TableSchema& table, const QString& operation);  // "UPDATE", "DELETE", ...
QString indexSql(const TableSchema& table, const QString& index);        // one of table.indexes
QString indexName(const QString& index);

// `seq`, the table's columns and `hash` for SELECT from a store of schema
// version `version`: a column that version does not have reads as NULL.
QString selectColumns(const TableSchema& table, int version);

// The hash a first row chains to.
QByteArray genesisHash();

// The canonical bytes of one row: its table, its seq and every column that is
// not NULL, each value length-prefixed. `values` follow the table's columns.
// Columns added by later schema versions are NULL in older rows, so those
// rows keep their canonical content.
QByteArray canonicalContent(const TableSchema& table, qint64 seq, const QVariantList& values);

// SHA-256 (hex) over the previous row's hash (hex) and the row's canonical content.
QByteArray chainHash(const QByteArray& previousHash, const QByteArray& canonical);

} // namespace kalvor::records
