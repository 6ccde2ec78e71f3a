#pragma once
// The record store: the batches, dosimeter readings, filter checks, lots,
// calibrations and the audit trail of events, in one SQLite file (WAL,
// synchronous commits) or in a PostgreSQL database that several programs on
// several computers append to (StoreBackend.h has what differs). Rows are
// only ever appended; every row carries the SHA-256 chain hash of
// RecordSchema, and each append is committed (and on disk) before it
// returns, so a crash at any moment leaves every row that an append reported.
//
// Appends hold the back end's append lock from reading the chain's tail to
// the commit, so rows from several writers form one chain. On PostgreSQL a
// connection that was lost is made again at the next append; an append whose
// statements met the lost connection before its commit runs again once, on
// the new connection, and one that lost it during the commit looks whether
// its rows arrived, so an append reports a row exactly when the row is there.
//
// Queries of other code go through database(). On PostgreSQL a forward-only
// query must be read to its end before another query runs on the same
// connection (the driver drops what is left of it); read pages of rows
// (TablePages.h) for a table of any size.
#include "records/RecordSchema.h"
#include "records/Records.h"
#include "records/StoreBackend.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace kalvor::records {

// The last row of the chain: its number (rows are numbered from 1 without
// gaps, so it is also the count of rows) and its hash.
struct ChainHead {
    qint64 rows = 0;
    QByteArray hash;  // genesisHash() when there are no rows
};

class RecordStore {
public:
    static constexpr int kSchemaVersion = records::kSchemaVersion;

    using OpenMode = StoreOpenMode;
    using OpenError = StoreOpenError;

    // $XDG_DATA_HOME/KALVOR/records.sqlite (normally ~/.local/share/KALVOR/...).
    static QString defaultPath();

    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Opens (and creates or migrates) the store at `location`: a file (a new
    // file and its folder are private to the user, 0600 and 0700), or a
    // postgresql:// URI (StoreLocation.h) of a database that exists (its
    // tables are made when it has none).
    OpenError open(const QString& location, OpenMode mode, QString* why);
    void close();
    bool isOpen() const;
    QString path() const { return location_.text; }  // as given
    const StoreLocation& location() const { return location_; }
    bool isServer() const { return location_.isServer(); }
    QSqlDatabase database() const;
    const StoreBackend& backend() const { return *backend_; }
    int schemaVersion() const;
    bool isReadOnly() const { return readOnly_; }
    // How a read-only open reads the file (StoreFile.h); InPlace on a server.
    ReadAccess readAccess() const { return backend_ ? backend_->readAccess() : ReadAccess::InPlace; }
    // A read-only open of the file alone or of a copy: whether the file (or
    // its log) has changed since, so that what was read may mix two states
    // of it; read it again then. Always false for other opens and on a
    // server (whose read transactions see one state).
    bool changedSinceOpen() const { return readOnly_ && backend_ && backend_->changedSinceOpen(); }
    // Whether this user may add rows (an export's event) to the store at
    // `location`, asked without opening it for writing; `why` says what stops it.
    static bool appendAllowedAt(const QString& location, QString* why);
    // Once after the connection to the server was lost and made again: what
    // happened, for the audit trail; empty otherwise.
    QString takeReconnection();

    // Every row of `source`, seq and hash as they are, in one transaction:
    // into a store without rows only. `progress` hears the rows copied so far.
    bool copyRowsFrom(const RecordStore& source, const std::function<void(qint64)>& progress, QString* why);

    // ---- appends: each is one committed transaction; the seq of the new row.
    std::optional<qint64> appendBatch(const BatchRecord& batch, QString* why);
    // The reading and its capture (or re-read/correction) event, together.
    std::optional<qint64> appendReading(const ReadingRecord& reading, const EventRecord& event,
                                        QString* why);
    // The same with further rows in the same transaction, made from the
    // reading's seq once it is known (its dose, say).
    using RowsFor = std::function<QList<std::pair<QString, QVariantList>>(qint64 readingSeq)>;
    std::optional<qint64> appendReading(const ReadingRecord& reading, const EventRecord& event, const RowsFor& more,
                                        QString* why);
    std::optional<qint64> appendFilterCheck(const FilterCheckRecord& check, QString* why);
    std::optional<qint64> appendEvent(const EventRecord& event, QString* why);
    // Rows of any tables, in one transaction: `values` follow each table's
    // columns (recordTable). The seq of the first row.
    std::optional<qint64> appendRows(const QList<std::pair<QString, QVariantList>>& rows, QString* why);

    // ---- queries
    std::optional<BatchRecord> batchNamed(const QString& name) const;
    std::optional<BatchRecord> batch(qint64 seq) const;
    // A batch is open until a batch-closed event that no later reopening follows.
    bool isClosed(qint64 batchSeq) const;
    QList<ReadingRecord> readings(qint64 batchSeq) const;
    // Readings taken from `from` (inclusive) to `to` (exclusive); an invalid bound is open.
    QList<ReadingRecord> readingsBetween(const QDateTime& from, const QDateTime& to) const;
    std::optional<ReadingRecord> reading(qint64 seq) const;
    QList<EventRecord> events(std::optional<qint64> batchSeq = std::nullopt) const;
    QList<FilterCheckRecord> filterChecks() const;
    // The list of the batch's latest id-list event; empty when it has none.
    QStringList idList(qint64 batchSeq) const;
    // The text of the batch's latest id-list event, as stored; empty when it has none.
    QString idListText(qint64 batchSeq) const;
    qint64 lastSeq() const;  // the seq of the last row written; 0 when empty
    ChainHead head() const;

private:
    struct Tail {
        qint64 seq = 0;
        QByteArray hash;
        QString table;  // of the last row
    };
    std::optional<qint64> transaction(const std::function<bool(Tail&, QString*)>& body, QString* why);
    bool insertRow(const QString& table, const QVariantList& values, Tail& tail, QString* why);
    bool readTail(Tail* tail, QString* why) const;
    bool begin(const QStringList& statements, QString* why);
    bool rowIsThere(const Tail& tail) const;
    bool reconnect(QString* why);
    OpenError checkIdentity(QString* why);
    bool migrate(QString* why);
    bool createTable(const TableSchema& table, QString* why);
    bool exec(const QString& sql, QString* why) const;
    bool lost() const;

    QString connection_;
    StoreLocation location_;
    std::unique_ptr<StoreBackend> backend_;
    int version_ = kSchemaVersion;  // of the open store
    bool readOnly_ = false;
    bool broken_ = false;            // the connection was lost; make it again first
    QString reconnection_;           // see takeReconnection()
    mutable QSqlError lastError_;    // of the last statement that failed
    mutable QString tailSql_;  // the query of the chain's tail, for the store's version
};

// One state of the store for a series of queries: a read transaction from
// construction to destruction, so that rows written meanwhile by another
// connection are not half seen.
class ReadSnapshot {
public:
    explicit ReadSnapshot(const RecordStore& store);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    const RecordStore& store_;
    bool began_ = false;
};

QString utcNow();  // UTC ISO 8601 with milliseconds

// A record's values in the order of its table's columns, as appendRows takes them.
QVariantList rowValues(const BatchRecord& batch);
QVariantList rowValues(const ReadingRecord& reading);
QVariantList rowValues(const EventRecord& event);

} // namespace kalvor::records
