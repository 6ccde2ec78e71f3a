#pragma once
// The record store: one SQLite file (WAL, synchronous commits) holding the
// batches, dosimeter readings, filter checks and the audit trail of events.
// Rows are only ever appended; every row carries the SHA-256 chain hash of
// RecordSchema, and each append is committed before it returns, so a crash at
// any moment leaves every row that an append reported.
#include "records/RecordSchema.h"
#include "records/Records.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

namespace kalvor::records {

class RecordStore {
public:
    static constexpr int kSchemaVersion = records::kSchemaVersion;

    enum class OpenMode { CreateIfMissing, ExistingOnly };
    enum class OpenError { None, Missing, CannotOpen, NotARecordStore, TooNew };

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

    // ---- appends: each is one committed transaction; the seq of the new row.
    std::optional<qint64> appendBatch(const BatchRecord& batch, QString* why);
    // The reading and its capture (or re-read/correction) event, together.
    std::optional<qint64> appendReading(const ReadingRecord& reading, const EventRecord& event,
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

private:
    struct Tail {
        qint64 seq = 0;
        QByteArray hash;
    };
    std::optional<qint64> transaction(const std::function<bool(Tail&, QString*)>& body, QString* why);
    bool insertRow(const QString& table, const QVariantList& values, Tail& tail, QString* why);
    bool readTail(Tail* tail, QString* why) const;
    OpenError prepare(QString* why);
    bool migrate(int from, QString* why);
    bool createTable(const TableSchema& table, QString* why);
    bool exec(const QString& sql, QString* why) const;

    QString connection_;
    QString path_;
};

QString utcNow();  // UTC ISO 8601 with milliseconds

} // namespace kalvor::records
