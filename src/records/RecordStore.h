#pragma once
// The record store: one SQLite file (WAL, synchronous commits) holding the
// batches, dosimeter readings, filter checks and the audit trail of events.
// Rows are only ever appended; every row carries the SHA-256 chain hash of
// RecordSchema, and each append is committed before it returns, so a crash at
// any moment leaves every row that an append reported.
#include "records/RecordSchema.h"
#include "records/Records.h"
#include "records/StoreFile.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;

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

    // ReadOnly never writes and never makes a file beside the store (see
    // StoreFile.h); an older store is read as it is, without migrating it.
    enum class OpenMode { CreateIfMissing, ExistingOnly, ReadOnly };
    enum class OpenError {
        None,
        Missing,
        CannotOpen,
        NotARecordStore,  // another kind of SQLite database, an empty file, not a file
        TooNew,
        PermissionDenied,
        Damaged,          // not an SQLite file, or SQLite finds it malformed
    };

    // $XDG_DATA_HOME/KALVOR/records.sqlite (normally ~/.local/share/KALVOR/...).
    static QString defaultPath();

    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Opens (and creates or migrates) the store at `path`; a new file and its
    // folder are private to the user (0600 and 0700).
    OpenError open(const QString& path, OpenMode mode, QString* why);
    void close();
    bool isOpen() const;
    QString path() const { return path_; }
    QSqlDatabase database() const;
    int schemaVersion() const;
    bool isReadOnly() const { return readOnly_; }
    // How a read-only open reads the file (StoreFile.h).
    ReadAccess readAccess() const { return access_; }
    // A read-only open of the file alone or of a copy: whether the file (or
    // its log) has changed since, so that what was read may mix two states
    // of it; read it again then. Always false for other opens.
    bool changedSinceOpen() const;

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
    };
    std::optional<qint64> transaction(const std::function<bool(Tail&, QString*)>& body, QString* why);
    bool insertRow(const QString& table, const QVariantList& values, Tail& tail, QString* why);
    bool readTail(Tail* tail, QString* why) const;
    OpenError openForWriting(bool create, QString* why);
    OpenError openReadOnly(bool walMode, QString* why);
    OpenError checkIdentity(QString* why);
    OpenError failure(const QString& doing, const QSqlError& error, QString* why) const;
    bool migrate(int from, QString* why);
    bool createTable(const TableSchema& table, QString* why);
    bool exec(const QString& sql, QString* why) const;

    QString connection_;
    QString path_;
    int version_ = kSchemaVersion;  // of the open store
    bool readOnly_ = false;
    ReadAccess access_ = ReadAccess::InPlace;
    std::optional<FileStamp> fileStamp_;  // for changedSinceOpen()
    std::optional<FileStamp> logStamp_;
    std::unique_ptr<QTemporaryDir> copy_;  // ReadAccess::Copy
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
    QSqlDatabase db_;
    bool began_ = false;
};

QString utcNow();  // UTC ISO 8601 with milliseconds

} // namespace kalvor::records
