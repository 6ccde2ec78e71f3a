#pragma once
// The rows of one table of the record store in the order they were written
// (by seq), read a page at a time: a table of any size is read in constant
// memory. On the store's own connection each page is read whole before
// anything else runs on it, as PostgreSQL's driver needs (RecordStore.h).
// With a connection of its own in the same state (StoreBackend's
// openInSameState), one query streams the whole table instead, so that the
// server sends the next rows of each table while the rows already here are
// used. The verifier merges the tables' pages by seq; store copy copies them.
#include "records/RecordSchema.h"

#include <QByteArray>
#include <QSqlQuery>
#include <QVariantList>
#include <vector>

namespace kalvor::records {

class RecordStore;

struct StoredRow {
    qint64 seq = 0;
    QVariantList values;  // the table's columns as the store's version has them (NULL for later ones)
    QByteArray hash;
};

class TablePages {
public:
    struct Options {
        int pageSize = 1000;
        // A file's text columns and the hash come as their UTF-8 bytes
        // (QByteArray), as canonicalContent takes them, not as QString; for
        // reading rows to hash, not to copy.
        bool textAsBytes = false;
        // Read on a connection of its own where the back end can open one in
        // the state of the store's read transaction.
        bool ownConnection = false;
    };
    TablePages(const RecordStore& store, const TableSchema& table, int version, Options options);
    TablePages(const RecordStore& store, const TableSchema& table, int version)
        : TablePages(store, table, version, Options{})
    {
    }
    ~TablePages();
    TablePages(const TablePages&) = delete;
    TablePages& operator=(const TablePages&) = delete;

    const TableSchema& table() const { return *table_; }
    // The current row; false at the end or after an error.
    bool has() const { return at_ < rows_.size(); }
    const StoredRow& row() const { return rows_[at_]; }
    void advance();
    const QString& error() const { return error_; }

private:
    void fetch();

    const TableSchema* table_;
    QString connection_;  // the connection of its own, when it has one
    QSqlQuery query_;
    int pageSize_;
    bool streaming_ = false;  // one query for the whole table, read a page at a time
    std::vector<StoredRow> rows_;
    size_t at_ = 0;
    qint64 after_ = 0;   // the last seq read
    bool done_ = false;  // the last page was short
    QString error_;
};

} // namespace kalvor::records
