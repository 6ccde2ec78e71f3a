#include "records/RecordStore.h"

#include "records/RecordSchema.h"
#include "records/RowValues.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>
#include <sys/stat.h>

namespace kalvor::records {

namespace {

using namespace rowvalues;

void say(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

QVariant stored(ColumnType type, const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return {};
    if (type == ColumnType::Text)
        return textValue(v.toString());
    return v;
}

QVariantList batchValues(const BatchRecord& b)
{
    return {textValue(b.name),    textValue(b.operatorName), textValue(b.lot),
            textValue(b.idPrefix), textValue(b.idFirst),     textValue(b.openedUtc),
            textValue(b.programVersion)};
}

QVariantList readingValues(const ReadingRecord& r)
{
    return {r.batch,
            textValue(r.dosimeterId),
            textValue(r.timeUtc),
            textValue(r.shown),
            orNull(r.absorbance),
            r.spread,
            r.count,
            textValue(r.wavelength),
            textValue(r.zero),
            textValue(r.zeroUtc),
            textValue(r.readerModel),
            textValue(r.readerSerial),
            textValue(r.readerGain),
            textValue(r.status),
            textValue(r.operatorName),
            textValue(r.programVersion),
            textValue(r.trigger),
            orNull(r.repeats),
            orNull(r.corrects),
            orNull(r.supersedes),
            r.reason.isEmpty() ? QVariant() : QVariant(r.reason),
            orNull(r.thicknessMm),
            r.position.isEmpty() ? QVariant() : QVariant(r.position)};
}

QVariantList filterCheckValues(const FilterCheckRecord& f)
{
    return {textValue(f.timeUtc),      textValue(f.item),         textValue(f.filter),
            textValue(f.shown),        orNull(f.value),           textValue(f.wavelength),
            textValue(f.readerModel),  textValue(f.readerSerial), textValue(f.readerGain),
            orNull(f.batch),           textValue(f.operatorName), textValue(f.programVersion)};
}

QVariantList eventValues(const EventRecord& e)
{
    return {textValue(e.timeUtc),        textValue(e.kind),  orNull(e.batch), orNull(e.reading),
            textValue(e.detail),         textValue(e.operatorName), textValue(e.programVersion)};
}

BatchRecord batchFrom(const QSqlQuery& q)
{
    BatchRecord b;
    b.seq = q.value(0).toLongLong();
    b.name = q.value(1).toString();
    b.operatorName = q.value(2).toString();
    b.lot = q.value(3).toString();
    b.idPrefix = q.value(4).toString();
    b.idFirst = q.value(5).toString();
    b.openedUtc = q.value(6).toString();
    b.programVersion = q.value(7).toString();
    return b;
}

ReadingRecord readingFrom(const QSqlQuery& q)
{
    ReadingRecord r;
    int i = 0;
    r.seq = q.value(i++).toLongLong();
    r.batch = q.value(i++).toLongLong();
    r.dosimeterId = q.value(i++).toString();
    r.timeUtc = q.value(i++).toString();
    r.shown = q.value(i++).toString();
    r.absorbance = q.isNull(i) ? std::nullopt : std::optional<double>(q.value(i).toDouble());
    ++i;
    r.spread = q.value(i++).toDouble();
    r.count = q.value(i++).toInt();
    r.wavelength = q.value(i++).toString();
    r.zero = q.value(i++).toString();
    r.zeroUtc = q.value(i++).toString();
    r.readerModel = q.value(i++).toString();
    r.readerSerial = q.value(i++).toString();
    r.readerGain = q.value(i++).toString();
    r.status = q.value(i++).toString();
    r.operatorName = q.value(i++).toString();
    r.programVersion = q.value(i++).toString();
    r.trigger = q.value(i++).toString();
    r.repeats = optInt(q, i++);
    r.corrects = optInt(q, i++);
    r.supersedes = optInt(q, i++);
    r.reason = q.value(i++).toString();
    r.thicknessMm = q.isNull(i) ? std::nullopt : std::optional<double>(q.value(i).toDouble());
    ++i;
    r.position = q.value(i++).toString();
    return r;
}

EventRecord eventFrom(const QSqlQuery& q)
{
    EventRecord e;
    e.seq = q.value(0).toLongLong();
    e.timeUtc = q.value(1).toString();
    e.kind = q.value(2).toString();
    e.batch = optInt(q, 3);
    e.reading = optInt(q, 4);
    e.detail = q.value(5).toString();
    e.operatorName = q.value(6).toString();
    e.programVersion = q.value(7).toString();
    return e;
}

FilterCheckRecord filterCheckFrom(const QSqlQuery& q)
{
    FilterCheckRecord f;
    f.seq = q.value(0).toLongLong();
    f.timeUtc = q.value(1).toString();
    f.item = q.value(2).toString();
    f.filter = q.value(3).toString();
    f.shown = q.value(4).toString();
    f.value = q.isNull(5) ? std::nullopt : std::optional<double>(q.value(5).toDouble());
    f.wavelength = q.value(6).toString();
    f.readerModel = q.value(7).toString();
    f.readerSerial = q.value(8).toString();
    f.readerGain = q.value(9).toString();
    f.batch = optInt(q, 10);
    f.operatorName = q.value(11).toString();
    f.programVersion = q.value(12).toString();
    return f;
}

// Every column of `table` as a store of `version` has it (NULL for those it lacks), then the hash.
QString selectAll(const QString& table, int version)
{
    return QStringLiteral("SELECT %1 FROM %2").arg(selectColumns(recordTable(table), version), table);
}

} // namespace

QVariantList rowValues(const BatchRecord& batch) { return batchValues(batch); }
QVariantList rowValues(const ReadingRecord& reading) { return readingValues(reading); }
QVariantList rowValues(const EventRecord& event) { return eventValues(event); }

QString utcNow() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

QString RecordStore::defaultPath()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data) + QStringLiteral("/KALVOR/records.sqlite");
}

RecordStore::RecordStore()
{
    static std::atomic<int> counter{0};
    connection_ = QStringLiteral("kalvor-records-%1").arg(counter++);
}

RecordStore::~RecordStore() { close(); }

QSqlDatabase RecordStore::database() const { return QSqlDatabase::database(connection_, false); }

bool RecordStore::isOpen() const { return database().isOpen(); }

void RecordStore::close()
{
    tailSql_.clear();
    if (backend_)
        backend_->releaseQueries();
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    if (backend_)
        backend_->close();
    readOnly_ = false;
    broken_ = false;
    version_ = kSchemaVersion;
}

bool RecordStore::exec(const QString& sql, QString* why) const
{
    QSqlQuery q(database());
    if (q.exec(sql))
        return true;
    lastError_ = q.lastError();
    say(why, QStringLiteral("%1: %2").arg(sql.section(QLatin1Char(' '), 0, 2), backend_->errorText(q.lastError())));
    return false;
}

bool RecordStore::lost() const { return backend_->connectionLost(database(), lastError_); }

RecordStore::OpenError RecordStore::open(const QString& location, OpenMode mode, QString* why)
{
    close();
    QString bad;
    const std::optional<StoreLocation> where = StoreLocation::parse(location, &bad);
    if (!where) {
        location_ = StoreLocation{};
        location_.text = location;
        say(why, bad);
        return OpenError::CannotOpen;
    }
    location_ = *where;
    backend_ = StoreBackend::make(location_);
    readOnly_ = mode == OpenMode::ReadOnly;
    OpenError result = backend_->open(connection_, mode, why);
    if (result == OpenError::None)
        result = checkIdentity(why);
    if (result == OpenError::None && !readOnly_) {
        QString detail;
        if (!backend_->prepareWriting(database(), &detail) || (version_ < kSchemaVersion && !migrate(&detail))) {
            say(why, QStringLiteral("cannot prepare %1: %2").arg(location_.display(), detail));
            result = OpenError::CannotOpen;
        }
        version_ = kSchemaVersion;
    }
    if (result != OpenError::None) {
        const bool wasReadOnly = readOnly_;
        close();  // the queries of the open are gone by now
        readOnly_ = wasReadOnly;
    }
    return result;
}

bool RecordStore::appendAllowedAt(const QString& location, QString* why)
{
    const std::optional<StoreLocation> where = StoreLocation::parse(location, why);
    if (!where)
        return false;
    if (!where->isServer())
        return storeWritable(where->text, why);
    // A server that cannot be reached now says so when the store is opened to write.
    RecordStore probe;
    return probe.open(location, OpenMode::ReadOnly, nullptr) != OpenError::None
           || probe.backend_->appendAllowed(probe.database(), why);
}

RecordStore::OpenError RecordStore::checkIdentity(QString* why)
{
    QSqlError error;
    const std::optional<StoreIdentity> id = backend_->identity(database(), &error);
    if (!id)
        return backend_->failure(QStringLiteral("read"), error, readOnly_, why);
    const QString where = location_.display();
    const QString kind = location_.isServer() ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite");
    if (!id->marked) {
        if (!id->tables.isEmpty() || id->version != 0) {
            say(why, QStringLiteral("%1 is an %2 database, but not a KALVOR record store (%3)")
                         .arg(where, kind,
                              id->tables.isEmpty() ? QStringLiteral("it holds no tables")
                                                   : QStringLiteral("its tables: %1").arg(id->tables.mid(0, 8).join(QStringLiteral(", ")))));
            return OpenError::NotARecordStore;
        }
        if (readOnly_) {
            say(why, QStringLiteral("%1 is an empty %2 database, not a KALVOR record store").arg(where, kind));
            return OpenError::NotARecordStore;
        }
        // An empty database becomes a new store.
        version_ = 0;
        return OpenError::None;
    }
    if (id->version < 1) {
        say(why, QStringLiteral("%1 is damaged: it is marked as a KALVOR record store but has no schema version").arg(where));
        return OpenError::Damaged;
    }
    if (id->version > kSchemaVersion) {
        say(why, QStringLiteral("%1 was written by a newer kalvor-batch (record store version %2; "
                                "this one knows up to %3)")
                     .arg(where)
                     .arg(id->version)
                     .arg(kSchemaVersion));
        return OpenError::TooNew;
    }
    version_ = id->version;
    return OpenError::None;
}

int RecordStore::schemaVersion() const
{
    QSqlError error;
    const std::optional<StoreIdentity> id = backend_ ? backend_->identity(database(), &error) : std::nullopt;
    return id ? id->version : -1;
}

bool RecordStore::begin(const QStringList& statements, QString* why)
{
    for (const QString& sql : statements)
        if (!exec(sql, why))
            return false;
    return true;
}

bool RecordStore::migrate(QString* why)
{
    if (!begin(backend_->beginAppend(), why)) {
        exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    // Under the lock: another program may have made or migrated it meanwhile.
    QSqlError error;
    const std::optional<StoreIdentity> id = backend_->identity(database(), &error);
    bool ok = id.has_value();
    if (!ok)
        say(why, backend_->errorText(error));
    const int from = id ? id->version : 0;
    if (ok && from < 1) {
        // A new store: every table as this version has it.
        for (const QString& sql : backend_->newStoreSql())
            ok = ok && exec(sql, why);
        for (const TableSchema& t : recordTables())
            ok = ok && createTable(t, why);
    } else if (ok) {
        // An older store: what each later version added, in order. The rows
        // already there keep their content, with NULL in the new columns.
        for (int v = from + 1; v <= kSchemaVersion; ++v)
            for (const TableSchema& t : recordTables()) {
                if (t.since == v) {
                    ok = ok && createTable(t, why);
                    continue;
                }
                if (t.since > v)
                    continue;
                for (const Column& c : t.columns)
                    if (c.since == v)
                        ok = ok && exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(t.name, c.name, backend_->columnType(c.type)), why);
            }
    }
    if (ok && from < kSchemaVersion)
        for (const QString& sql : backend_->markSql(kSchemaVersion, from < 1))
            ok = ok && exec(sql, why);
    if (ok && exec(QStringLiteral("COMMIT"), why))
        return true;
    exec(QStringLiteral("ROLLBACK"), nullptr);
    return false;
}

bool RecordStore::createTable(const TableSchema& t, QString* why)
{
    QStringList cols{backend_->keyColumn()};
    for (const Column& c : t.columns)
        cols << c.name + QLatin1Char(' ') + backend_->columnType(c.type);
    cols << QStringLiteral("hash TEXT NOT NULL");
    bool ok = exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(t.name, cols.join(QStringLiteral(", "))), why);
    for (const QString& op : backend_->appendOnlyOperations())
        ok = ok && exec(backend_->triggerSql(t, op), why);
    for (const QString& index : t.indexes)
        ok = ok && exec(indexSql(t, index), why);
    return ok;
}

bool RecordStore::readTail(Tail* tail, QString* why) const
{
    // The last row of each table by its key, the latest of them: one
    // statement, a few index lookups, whatever the store's size.
    *tail = Tail{0, genesisHash(), QString()};
    if (tailSql_.isEmpty()) {
        QStringList parts;
        for (const TableSchema& t : recordTables())
            if (t.since <= version_)
                parts << QStringLiteral("SELECT seq, hash, '%1' AS tbl FROM (SELECT seq, hash FROM %1 ORDER BY seq DESC LIMIT 1) AS %1_tail")
                             .arg(t.name);
        tailSql_ = parts.join(QStringLiteral(" UNION ALL ")) + QStringLiteral(" ORDER BY seq DESC LIMIT 1");
    }
    QSqlQuery q(database());
    if (!q.exec(tailSql_)) {
        lastError_ = q.lastError();
        say(why, backend_->errorText(lastError_));
        return false;
    }
    if (q.next())
        *tail = Tail{q.value(0).toLongLong(), q.value(1).toString().toLatin1(), q.value(2).toString()};
    return true;
}

bool RecordStore::insertRow(const QString& table, const QVariantList& values, Tail& tail, QString* why)
{
    const TableSchema& t = recordTable(table);
    QVariantList row{tail.seq + 1};
    for (int i = 0; i < t.columns.size(); ++i)
        row << stored(t.columns[i].type, values.value(i));
    const QByteArray hash = chainHash(tail.hash, canonicalContent(t, tail.seq + 1, row.mid(1)));
    row << QString::fromLatin1(hash);
    if (!backend_->insert(database(), t, {row}, &lastError_)) {
        say(why, QStringLiteral("cannot write to %1: %2").arg(location_.display(), backend_->errorText(lastError_)));
        return false;
    }
    tail = Tail{tail.seq + 1, hash, table};
    return true;
}

bool RecordStore::rowIsThere(const Tail& tail) const
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT hash FROM %1 WHERE seq = ?").arg(tail.table));
    q.addBindValue(tail.seq);
    return q.exec() && q.next() && q.value(0).toString().toLatin1() == tail.hash;
}

bool RecordStore::reconnect(QString* why)
{
    // The prepared statements belonged to the connection that is gone.
    backend_->releaseQueries();
    QSqlDatabase db = database();
    if (!backend_->reconnect(db, why))
        return false;
    broken_ = false;
    return true;
}

QString RecordStore::takeReconnection()
{
    QString note;
    note.swap(reconnection_);
    return note;
}

std::optional<qint64> RecordStore::transaction(const std::function<bool(Tail&, QString*)>& body, QString* why)
{
    if (!backend_ || !QSqlDatabase::contains(connection_)) {
        say(why, QStringLiteral("the record store is not open"));
        return std::nullopt;
    }
    if (readOnly_) {
        say(why, QStringLiteral("%1 is open read-only").arg(location_.display()));
        return std::nullopt;
    }
    QString detail;
    QString lostWhy;  // what the lost connection said
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (broken_) {
            QString reach;
            if (!reconnect(&reach)) {
                say(why, QStringLiteral("the connection to the record store is lost (%1) and cannot be made again: %2")
                             .arg(lostWhy.isEmpty() ? QStringLiteral("earlier") : lostWhy, reach));
                return std::nullopt;
            }
            reconnection_ = QStringLiteral("the connection to %1 was lost (%2) and made again")
                                .arg(location_.display(), lostWhy.isEmpty() ? QStringLiteral("while idle") : lostWhy);
        }
        lastError_ = QSqlError();
        Tail tail;
        qint64 first = 0;
        bool ok = begin(backend_->beginAppend(), &detail) && readTail(&tail, &detail);
        if (ok) {
            first = tail.seq + 1;
            ok = body(tail, &detail);
        }
        if (ok) {
            if (exec(QStringLiteral("COMMIT"), &detail))
                return first;
            if (lost()) {
                // Lost as it committed: the rows are there or not at all.
                lostWhy = detail;
                broken_ = true;
                QString reach;
                if (reconnect(&reach)) {
                    reconnection_ = QStringLiteral("the connection to %1 was lost (%2) and made again").arg(location_.display(), lostWhy);
                    if (rowIsThere(tail))
                        return first;
                    continue;  // not committed: once more, on the new connection
                }
                say(why, QStringLiteral("the connection to the record store was lost as the record was committed (%1); "
                                        "whether it was stored shows once the server answers again: %2")
                             .arg(lostWhy, reach));
                return std::nullopt;
            }
        }
        if (backend_->connectionLost(database(), lastError_)) {
            lostWhy = detail;
            broken_ = true;
            continue;  // nothing was committed: once more, after the connection is made again
        }
        exec(QStringLiteral("ROLLBACK"), nullptr);
        say(why, detail);
        return std::nullopt;
    }
    say(why, QStringLiteral("the connection to the record store was lost: %1").arg(lostWhy));
    return std::nullopt;
}

std::optional<qint64> RecordStore::appendBatch(const BatchRecord& batch, QString* why)
{
    return transaction([&](Tail& tail, QString* w) { return insertRow(QStringLiteral("batches"), batchValues(batch), tail, w); },
                       why);
}

std::optional<qint64> RecordStore::appendReading(const ReadingRecord& reading, const EventRecord& event, QString* why)
{
    return appendReading(reading, event, nullptr, why);
}

std::optional<qint64> RecordStore::appendReading(const ReadingRecord& reading, const EventRecord& event,
                                                 const RowsFor& more, QString* why)
{
    return transaction(
        [&](Tail& tail, QString* w) {
            if (!insertRow(QStringLiteral("readings"), readingValues(reading), tail, w))
                return false;
            const qint64 readingSeq = tail.seq;
            EventRecord e = event;
            e.reading = readingSeq;
            if (!insertRow(QStringLiteral("events"), eventValues(e), tail, w))
                return false;
            if (more)
                for (const auto& [table, values] : more(readingSeq))
                    if (!insertRow(table, values, tail, w))
                        return false;
            return true;
        },
        why);
}

std::optional<qint64> RecordStore::appendFilterCheck(const FilterCheckRecord& check, QString* why)
{
    return transaction(
        [&](Tail& tail, QString* w) { return insertRow(QStringLiteral("filter_checks"), filterCheckValues(check), tail, w); },
        why);
}

std::optional<qint64> RecordStore::appendEvent(const EventRecord& event, QString* why)
{
    return transaction([&](Tail& tail, QString* w) { return insertRow(QStringLiteral("events"), eventValues(event), tail, w); },
                       why);
}

std::optional<qint64> RecordStore::appendRows(const QList<std::pair<QString, QVariantList>>& rows, QString* why)
{
    return transaction(
        [&](Tail& tail, QString* w) {
            for (const auto& [table, values] : rows)
                if (!insertRow(table, values, tail, w))
                    return false;
            return true;
        },
        why);
}

std::optional<BatchRecord> RecordStore::batchNamed(const QString& name) const
{
    QSqlQuery q(database());
    q.prepare(selectAll(QStringLiteral("batches"), version_) + QStringLiteral(" WHERE name = ? ORDER BY seq DESC LIMIT 1"));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return batchFrom(q);
    return std::nullopt;
}

std::optional<BatchRecord> RecordStore::batch(qint64 seq) const
{
    QSqlQuery q(database());
    q.prepare(selectAll(QStringLiteral("batches"), version_) + QStringLiteral(" WHERE seq = ?"));
    q.addBindValue(seq);
    if (q.exec() && q.next())
        return batchFrom(q);
    return std::nullopt;
}

bool RecordStore::isClosed(qint64 batchSeq) const
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT kind FROM events WHERE batch = ? AND kind IN (?, ?) ORDER BY seq DESC LIMIT 1"));
    q.addBindValue(batchSeq);
    q.addBindValue(event::BatchClosed);
    q.addBindValue(event::BatchReopened);
    return q.exec() && q.next() && q.value(0).toString() == event::BatchClosed;
}

QList<ReadingRecord> RecordStore::readings(qint64 batchSeq) const
{
    QList<ReadingRecord> out;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(selectAll(QStringLiteral("readings"), version_) + QStringLiteral(" WHERE batch = ? ORDER BY seq"));
    q.addBindValue(batchSeq);
    if (q.exec())
        while (q.next())
            out << readingFrom(q);
    return out;
}

QList<ReadingRecord> RecordStore::readingsBetween(const QDateTime& from, const QDateTime& to) const
{
    QList<ReadingRecord> out;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    // time_utc is ISO 8601 in UTC with milliseconds, so text order is time order.
    QString sql = selectAll(QStringLiteral("readings"), version_) + QStringLiteral(" WHERE 1 = 1");
    if (from.isValid())
        sql += QStringLiteral(" AND time_utc >= :from");
    if (to.isValid())
        sql += QStringLiteral(" AND time_utc < :to");
    q.prepare(sql + QStringLiteral(" ORDER BY seq"));
    if (from.isValid())
        q.bindValue(QStringLiteral(":from"), from.toUTC().toString(Qt::ISODateWithMs));
    if (to.isValid())
        q.bindValue(QStringLiteral(":to"), to.toUTC().toString(Qt::ISODateWithMs));
    if (q.exec())
        while (q.next())
            out << readingFrom(q);
    return out;
}

std::optional<ReadingRecord> RecordStore::reading(qint64 seq) const
{
    QSqlQuery q(database());
    q.prepare(selectAll(QStringLiteral("readings"), version_) + QStringLiteral(" WHERE seq = ?"));
    q.addBindValue(seq);
    if (q.exec() && q.next())
        return readingFrom(q);
    return std::nullopt;
}

QList<EventRecord> RecordStore::events(std::optional<qint64> batchSeq) const
{
    QList<EventRecord> out;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (batchSeq) {
        q.prepare(selectAll(QStringLiteral("events"), version_) + QStringLiteral(" WHERE batch = ? ORDER BY seq"));
        q.addBindValue(*batchSeq);
    } else {
        q.prepare(selectAll(QStringLiteral("events"), version_) + QStringLiteral(" ORDER BY seq"));
    }
    if (q.exec())
        while (q.next())
            out << eventFrom(q);
    return out;
}

QList<FilterCheckRecord> RecordStore::filterChecks() const
{
    QList<FilterCheckRecord> out;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (q.exec(selectAll(QStringLiteral("filter_checks"), version_) + QStringLiteral(" ORDER BY seq")))
        while (q.next())
            out << filterCheckFrom(q);
    return out;
}

QStringList RecordStore::idList(qint64 batchSeq) const
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT detail FROM events WHERE batch = ? AND kind = ? ORDER BY seq DESC LIMIT 1"));
    q.addBindValue(batchSeq);
    q.addBindValue(event::IdList);
    if (q.exec() && q.next())
        return q.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return {};
}

QString RecordStore::idListText(qint64 batchSeq) const
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT detail FROM events WHERE batch = ? AND kind = ? ORDER BY seq DESC LIMIT 1"));
    q.addBindValue(batchSeq);
    q.addBindValue(event::IdList);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

qint64 RecordStore::lastSeq() const
{
    Tail t;
    return readTail(&t, nullptr) ? t.seq : 0;
}

ChainHead RecordStore::head() const
{
    Tail t;
    if (!readTail(&t, nullptr))
        return {};
    return ChainHead{t.seq, t.hash};
}

ReadSnapshot::ReadSnapshot(const RecordStore& store)
    : store_(store)
{
    if (!store.isOpen())
        return;
    QSqlQuery q(store.database());
    const QStringList statements = store.backend().beginSnapshot();
    began_ = q.exec(statements.value(0));
    for (qsizetype i = 1; began_ && i < statements.size(); ++i)
        q.exec(statements[i]);
}

ReadSnapshot::~ReadSnapshot()
{
    if (began_) {
        QSqlQuery q(store_.database());
        q.exec(QStringLiteral("COMMIT"));
    }
}

} // namespace kalvor::records
