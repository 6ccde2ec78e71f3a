#pragma once
// Everything in which a record store in an SQLite file and one in a
// PostgreSQL database differ, in one place: how a store is reached and
// opened (read-only too), what marks a database as a record store and holds
// its schema version, column types, the triggers that keep rows append-only,
// the lock that keeps the chain one chain while rows are appended, the read
// transaction of one state, the integrity check of the file, and the
// catalogue that the schema check reads. The tables, the chain, the
// migrations, the verifier and every query of the rows are the same for
// both and know nothing of this.
//
// SQLite: one file, write-ahead log, synchronous commits; BEGIN IMMEDIATE
// takes the one writer's lock; triggers RAISE(ABORT) on UPDATE and DELETE;
// PRAGMA application_id and user_version mark it; read-only opens as
// StoreFile.h describes.
// PostgreSQL (Qt's QPSQL driver): the tables in the connection's current
// schema, kalvor_store holding one row per schema version it was brought
// to; a transaction-scoped advisory lock serialises appends from any number
// of programs and computers; statement triggers refuse UPDATE, DELETE and
// TRUNCATE; synchronous_commit on; read-only opens are read-only sessions.
#include "records/RecordSchema.h"
#include "records/StoreFile.h"
#include "records/StoreLocation.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace kalvor::records {

// ReadOnly never writes and never makes a file beside the store (see
// StoreFile.h); an older store is read as it is, without migrating it.
enum class StoreOpenMode { CreateIfMissing, ExistingOnly, ReadOnly };
enum class StoreOpenError {
    None,
    Missing,           // no file; no such database
    CannotOpen,        // includes a server that cannot be reached
    NotARecordStore,   // another kind of database, an empty file, not a file
    TooNew,
    PermissionDenied,  // includes a refused login or missing privileges
    Damaged,           // not an SQLite file, or SQLite finds it malformed
};

// What marks the open database as a record store, as read from it.
struct StoreIdentity {
    bool marked = false;  // it says it is a KALVOR record store
    int version = 0;      // its schema version (0 when not marked)
    QStringList tables;   // the tables it holds, for a database that is no store
};

// The store's parts as the database's catalogue has them.
struct CatalogueColumn {
    QString name;
    QString type;  // as the back end's columnType() spells it
    bool key = false;
};
struct CataloguePart {
    QString table;
    QString definition;  // normalised so that it compares with the expected one
};

class StoreBackend {
public:
    static std::unique_ptr<StoreBackend> make(const StoreLocation& location);
    virtual ~StoreBackend() = default;

    virtual QString driverName() const = 0;

    // ---- opening: adds the Qt connection `connection` and opens it.
    virtual StoreOpenError open(const QString& connection, StoreOpenMode mode, QString* why) = 0;
    virtual std::optional<StoreIdentity> identity(const QSqlDatabase& db, QSqlError* error) const = 0;
    // An open error as the user should read it (`doing`: "open", "read").
    virtual StoreOpenError failure(const QString& doing, const QSqlError& error, bool readOnly, QString* why) const = 0;
    // A failed statement's error for people, in one line.
    virtual QString errorText(const QSqlError& error) const = 0;
    // Once the database is known to be a record store (or empty), before
    // anything is written to it.
    virtual bool prepareWriting(const QSqlDatabase& db, QString* why) const = 0;
    // After a failed statement: whether the connection itself is gone.
    virtual bool connectionLost(const QSqlDatabase& db, const QSqlError& error) const = 0;
    // Opens the same connection again (a server that restarted, a network
    // that came back); false with the reason. An SQLite file never needs it.
    virtual bool reconnect(QSqlDatabase& db, QString* why) const = 0;
    // Whether rows may be appended here by this user (the medium, the file,
    // the server's privileges); `why` says what stops it.
    virtual bool appendAllowed(const QSqlDatabase& db, QString* why) const = 0;
    // A read-only open of a file that may have changed under it (StoreFile.h).
    virtual bool changedSinceOpen() const { return false; }
    virtual ReadAccess readAccess() const { return ReadAccess::InPlace; }
    // Before the connection closes, and when it is made again.
    virtual void releaseQueries() {}
    // After the connection has closed.
    virtual void close() {}

    // ---- rows
    // Appends rows to `table` in one statement: each row is its seq, the
    // table's columns in order, and its hash, every value as the store keeps
    // it (a double goes in as the same double). False with the reason.
    virtual bool insert(const QSqlDatabase& db, const TableSchema& table, const QList<QVariantList>& rows, QSqlError* error) = 0;

    // ---- the schema in this back end's SQL
    virtual QString columnType(ColumnType type) const = 0;
    virtual QString keyColumn() const = 0;  // seq, the table's key
    // What the append-only triggers refuse, and the statements that make them.
    virtual QStringList appendOnlyOperations() const = 0;
    virtual QString triggerSql(const TableSchema& table, const QString& operation) const = 0;
    // Made once with a new store, before its tables (and its mark).
    virtual QStringList newStoreSql() const = 0;
    // Marks the store as of `version`, inside the migration's transaction.
    virtual QStringList markSql(int version, bool newStore) const = 0;

    // ---- transactions
    // Begins a transaction that appends: it holds the lock that keeps every
    // other writer out until it ends, so the chain's tail it reads stays its tail.
    virtual QStringList beginAppend() const = 0;
    // Begins a read-only transaction that sees one state of the store
    // throughout, and fixes that state.
    virtual QStringList beginSnapshot() const = 0;

    // ---- verify
    // The file's own consistency: nothing when this back end has no such
    // check (`text` then says what stands in for it), else whether it held.
    struct Integrity {
        bool ok = true;
        QString text;
    };
    virtual Integrity integrity(const QSqlDatabase& db) const = 0;
    // The same check made ready to run on another thread, on a connection of
    // its own, while `db` reads the rows; it gives nothing when it could not
    // run apart (integrity() then runs here). By default it is made here.
    virtual std::function<std::optional<Integrity>()> integrityApart(const QSqlDatabase& db) const
    {
        const Integrity here = integrity(db);
        return [here] { return std::optional<Integrity>(here); };
    }
    // Verify reads every row: a back end that can bring the store into memory
    // faster in an order of its own than in the rows' order does so here.
    virtual void readAhead() const {}
    // A second connection, added as `name`, that sees exactly the state of
    // the read transaction open on `db` (ReadSnapshot), for reading one table
    // while other connections read the others; nothing where a back end
    // cannot share one state between connections (the caller then reads
    // every table on `db`). The caller closes it and removes `name`.
    virtual bool openInSameState(const QSqlDatabase& db, const QString& name) const
    {
        Q_UNUSED(db)
        Q_UNUSED(name)
        return false;
    }
    // The catalogue: columns of one table (empty: no such table), and the
    // triggers and indexes of the store by name.
    virtual std::optional<QList<CatalogueColumn>> columns(const QSqlDatabase& db, const QString& table, QString* why) const = 0;
    virtual std::optional<QHash<QString, CataloguePart>> triggers(const QSqlDatabase& db, QString* why) const = 0;
    virtual std::optional<QHash<QString, CataloguePart>> indexes(const QSqlDatabase& db, QString* why) const = 0;
    // The definitions as the catalogue gives them for a store's own parts.
    virtual QString expectedTrigger(const QSqlDatabase& db, const TableSchema& table, const QString& operation) const = 0;
    virtual QString expectedIndex(const QSqlDatabase& db, const TableSchema& table, const QString& index) const = 0;
    // What else the back end needs whole for the triggers to work (the
    // function PostgreSQL's triggers run); one line per problem.
    virtual QStringList supportProblems(const QSqlDatabase& db) const = 0;
    // Who could change rows despite the triggers, for the schema problems' texts.
    virtual QString triggerOwner() const = 0;
};

} // namespace kalvor::records
