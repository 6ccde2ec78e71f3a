#include "records/RecordStore.h"

#include "records/RecordSchema.h"

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

// PRAGMA application_id of a record store: "KLVR".
constexpr int kApplicationId = 0x4B4C5652;

void say(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

QVariant orNull(const std::optional<qint64>& v) { return v ? QVariant(*v) : QVariant(); }
QVariant orNull(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(); }

// Text is stored as '' when empty, never as NULL, so it reads back as written.
QVariant textValue(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

QVariant stored(ColumnType type, const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return {};
    if (type == ColumnType::Text)
        return textValue(v.toString());
    return v;
}

std::optional<qint64> optInt(const QSqlQuery& q, int i)
{
    return q.isNull(i) ? std::nullopt : std::optional<qint64>(q.value(i).toLongLong());
}

QString columnList(const TableSchema& t)
{
    QStringList names{QStringLiteral("seq")};
    for (const Column& c : t.columns)
        names << c.name;
    return names.join(QLatin1Char(','));
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

// SQLite's result code of an error, without the extended part.
int primaryCode(const QSqlError& error) { return error.nativeErrorCode().toInt() & 0xff; }
constexpr int kSqlitePerm = 3, kSqliteBusy = 5, kSqliteLocked = 6, kSqliteCorrupt = 11, kSqliteAuth = 23,
              kSqliteNotADb = 26;

} // namespace

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
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    copy_.reset();  // after SQLite has let go of the copy
    fileStamp_.reset();
    logStamp_.reset();
    readOnly_ = false;
    access_ = ReadAccess::InPlace;
    version_ = kSchemaVersion;
}

bool RecordStore::changedSinceOpen() const
{
    if (!readOnly_ || access_ == ReadAccess::InPlace)
        return false;
    if (stampOf(path_) != fileStamp_)
        return true;
    return access_ == ReadAccess::Copy && stampOf(path_ + QStringLiteral("-wal")) != logStamp_;
}

bool RecordStore::exec(const QString& sql, QString* why) const
{
    QSqlQuery q(database());
    if (q.exec(sql))
        return true;
    say(why, QStringLiteral("%1: %2").arg(sql.section(QLatin1Char(' '), 0, 2), q.lastError().text()));
    return false;
}

RecordStore::OpenError RecordStore::open(const QString& path, OpenMode mode, QString* why)
{
    close();
    path_ = path;
    using Kind = StoreFileProbe::Kind;
    const StoreFileProbe probe = probeStoreFile(path);
    switch (probe.kind) {
    case Kind::Missing:
        if (mode != OpenMode::CreateIfMissing) {
            say(why, probe.text);
            return OpenError::Missing;
        }
        break;
    case Kind::NotAFile:
        say(why, probe.text);
        return OpenError::NotARecordStore;
    case Kind::NoAccess:
        say(why, probe.text);
        return OpenError::PermissionDenied;
    case Kind::Empty:
        // An empty file is where a new store goes (the window creates it
        // empty first); read-only, it is no store.
        if (mode == OpenMode::ReadOnly) {
            say(why, probe.text);
            return OpenError::NotARecordStore;
        }
        break;
    case Kind::NotSqlite:
        say(why, probe.text);
        return OpenError::Damaged;
    case Kind::Sqlite:
        break;
    }
    const OpenError result = mode == OpenMode::ReadOnly ? openReadOnly(probe.walMode, why)
                                                        : openForWriting(probe.kind == Kind::Missing, why);
    if (result != OpenError::None)
        close();  // the queries of the open are gone by now
    return result;
}

RecordStore::OpenError RecordStore::openForWriting(bool create, QString* why)
{
    const QString& path = path_;
    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(dir)) {
        if (!QDir().mkpath(dir)) {
            say(why, QStringLiteral("cannot create the folder %1").arg(dir));
            return OpenError::CannotOpen;
        }
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    }
    if (create) {
        // Created empty first, so that SQLite's file gets the private mode.
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            say(why, QStringLiteral("cannot create %1: %2").arg(path, f.errorString()));
            return OpenError::CannotOpen;
        }
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        return failure(QStringLiteral("open"), db.lastError(), why);
    const OpenError identity = checkIdentity(why);
    if (identity != OpenError::None)
        return identity;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()
        || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        const QSqlError error = q.lastError();
        if (error.isValid())
            return failure(QStringLiteral("switch to write-ahead logging"), error, why);
        say(why, QStringLiteral("cannot switch %1 to write-ahead logging").arg(path));
        return OpenError::CannotOpen;
    }
    q.finish();
    QString detail;
    // Every commit reaches the disk before it returns: a confirmed record survives a power cut.
    if (!exec(QStringLiteral("PRAGMA synchronous=FULL"), &detail)
        || (version_ < kSchemaVersion && !migrate(version_, &detail))) {
        say(why, QStringLiteral("cannot prepare %1: %2").arg(path, detail));
        return OpenError::CannotOpen;
    }
    version_ = kSchemaVersion;
    return OpenError::None;
}

RecordStore::OpenError RecordStore::openReadOnly(bool walMode, QString* why)
{
    readOnly_ = true;
    access_ = readAccessFor(path_, walMode);
    fileStamp_ = stampOf(path_);
    QString file = path_;
    if (access_ == ReadAccess::Copy) {
        // The log without its index: SQLite reads it only by making the
        // index, so it reads a private copy of both instead.
        const QString log = path_ + QStringLiteral("-wal");
        logStamp_ = stampOf(log);
        copy_ = std::make_unique<QTemporaryDir>();
        file = copy_->filePath(QStringLiteral("records.sqlite"));
        QFile original(path_), originalLog(log);
        if (!copy_->isValid() || !original.copy(file) || !originalLog.copy(file + QStringLiteral("-wal"))) {
            say(why, QStringLiteral("cannot read %1 with its write-ahead log: %2")
                         .arg(path_, original.error() != QFile::NoError ? original.errorString()
                                     : originalLog.error() != QFile::NoError ? originalLog.errorString()
                                                                              : copy_->errorString()));
            return OpenError::CannotOpen;
        }
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(readOnlyUri(file, access_ == ReadAccess::Immutable));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        return failure(QStringLiteral("open"), db.lastError(), why);
    return checkIdentity(why);
}

RecordStore::OpenError RecordStore::failure(const QString& doing, const QSqlError& error, QString* why) const
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    switch (primaryCode(error)) {
    case kSqliteCorrupt:
    case kSqliteNotADb:
        say(why, QStringLiteral("%1 is damaged: %2").arg(path_, text));
        return OpenError::Damaged;
    case kSqlitePerm:
    case kSqliteAuth:
        say(why, QStringLiteral("cannot %1 %2: permission denied (%3)").arg(doing, path_, text));
        return OpenError::PermissionDenied;
    case kSqliteBusy:
    case kSqliteLocked:
        say(why, QStringLiteral("cannot %1 %2: another program keeps it locked (%3)").arg(doing, path_, text));
        return OpenError::CannotOpen;
    default:
        break;
    }
    if (readOnly_) {
        say(why, QStringLiteral("cannot %1 %2: %3").arg(doing, path_, text));
        return OpenError::CannotOpen;
    }
    QString hint;
    if (!storeWritable(path_, &hint))
        hint = QStringLiteral(" (%1; kalvor-batch verify and export read it all the same)").arg(hint);
    say(why, QStringLiteral("cannot open %1 for writing: %2%3").arg(path_, text, hint));
    return OpenError::CannotOpen;
}

RecordStore::OpenError RecordStore::checkIdentity(QString* why)
{
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return failure(QStringLiteral("read"), q.lastError(), why);
    const int appId = q.value(0).toInt();
    q.finish();
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return failure(QStringLiteral("read"), q.lastError(), why);
    const int version = q.value(0).toInt();
    q.finish();
    // The header alone reads well on a file whose schema is broken.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return failure(QStringLiteral("read"), q.lastError(), why);
    q.finish();
    if (appId != kApplicationId) {
        QStringList tables;
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")))
            return failure(QStringLiteral("read"), q.lastError(), why);
        while (q.next())
            tables << q.value(0).toString();
        q.finish();
        if (!tables.isEmpty() || version != 0) {
            say(why, QStringLiteral("%1 is an SQLite database, but not a KALVOR record store (%2)")
                         .arg(path_, tables.isEmpty() ? QStringLiteral("it holds no tables")
                                                      : QStringLiteral("its tables: %1").arg(tables.mid(0, 8).join(QStringLiteral(", ")))));
            return OpenError::NotARecordStore;
        }
        if (readOnly_) {
            say(why, QStringLiteral("%1 is an empty SQLite database, not a KALVOR record store").arg(path_));
            return OpenError::NotARecordStore;
        }
        // An empty database becomes a new store.
    } else if (version < 1) {
        say(why, QStringLiteral("%1 is damaged: it is marked as a KALVOR record store but has no schema version").arg(path_));
        return OpenError::Damaged;
    }
    if (version > kSchemaVersion) {
        say(why, QStringLiteral("%1 was written by a newer kalvor-batch (record store version %2; "
                                "this one knows up to %3)")
                     .arg(path_)
                     .arg(version)
                     .arg(kSchemaVersion));
        return OpenError::TooNew;
    }
    version_ = version;
    return OpenError::None;
}

int RecordStore::schemaVersion() const
{
    QSqlQuery q(database());
    return q.exec(QStringLiteral("PRAGMA user_version")) && q.next() ? q.value(0).toInt() : -1;
}

bool RecordStore::migrate(int from, QString* why)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), why))
        return false;
    bool ok = true;
    if (from < 1) {
        // A new store: every table as this version has it.
        for (const TableSchema& t : recordTables())
            ok = ok && createTable(t, why);
        ok = ok && exec(QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId), why);
    } else {
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
                        ok = ok && exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(t.name, c.name, sqlType(c.type)), why);
            }
    }
    ok = ok && exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion), why);
    if (ok && exec(QStringLiteral("COMMIT"), why))
        return true;
    exec(QStringLiteral("ROLLBACK"), nullptr);
    return false;
}

bool RecordStore::createTable(const TableSchema& t, QString* why)
{
    QStringList cols{QStringLiteral("seq INTEGER PRIMARY KEY")};
    for (const Column& c : t.columns)
        cols << c.name + QLatin1Char(' ') + sqlType(c.type);
    cols << QStringLiteral("hash TEXT NOT NULL");
    bool ok = exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(t.name, cols.join(QStringLiteral(", "))), why);
    for (const char* op : {"UPDATE", "DELETE"})
        ok = ok && exec(triggerSql(t, QLatin1String(op)), why);
    for (const QString& index : t.indexes)
        ok = ok && exec(indexSql(t, index), why);
    return ok;
}

bool RecordStore::readTail(Tail* tail, QString* why) const
{
    *tail = Tail{0, genesisHash()};
    QSqlQuery q(database());
    for (const TableSchema& t : recordTables()) {
        if (t.since > version_)
            continue;
        if (!q.exec(QStringLiteral("SELECT seq, hash FROM %1 ORDER BY seq DESC LIMIT 1").arg(t.name))) {
            say(why, q.lastError().text());
            return false;
        }
        if (q.next() && q.value(0).toLongLong() > tail->seq)
            *tail = Tail{q.value(0).toLongLong(), q.value(1).toString().toLatin1()};
    }
    return true;
}

bool RecordStore::insertRow(const QString& table, const QVariantList& values, Tail& tail, QString* why)
{
    const TableSchema& t = recordTable(table);
    QVariantList row;
    for (int i = 0; i < t.columns.size(); ++i)
        row << stored(t.columns[i].type, values.value(i));
    const qint64 seq = tail.seq + 1;
    const QByteArray hash = chainHash(tail.hash, canonicalContent(t, seq, row));
    QSqlQuery q(database());
    QStringList marks(t.columns.size() + 2, QStringLiteral("?"));
    q.prepare(QStringLiteral("INSERT INTO %1 (%2, hash) VALUES (%3)")
                  .arg(table, columnList(t), marks.join(QLatin1Char(','))));
    q.addBindValue(seq);
    for (const QVariant& v : row)
        q.addBindValue(v);
    q.addBindValue(QString::fromLatin1(hash));
    if (!q.exec()) {
        say(why, QStringLiteral("cannot write to %1: %2").arg(path_, q.lastError().text()));
        return false;
    }
    tail = Tail{seq, hash};
    return true;
}

std::optional<qint64> RecordStore::transaction(const std::function<bool(Tail&, QString*)>& body, QString* why)
{
    if (!isOpen()) {
        say(why, QStringLiteral("the record store is not open"));
        return std::nullopt;
    }
    if (readOnly_) {
        say(why, QStringLiteral("%1 is open read-only").arg(path_));
        return std::nullopt;
    }
    QString detail;
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), &detail)) {
        say(why, QStringLiteral("cannot write to %1: %2").arg(path_, detail));
        return std::nullopt;
    }
    Tail tail;
    if (readTail(&tail, &detail)) {
        const qint64 first = tail.seq + 1;
        if (body(tail, &detail) && exec(QStringLiteral("COMMIT"), &detail))
            return first;
    }
    exec(QStringLiteral("ROLLBACK"), nullptr);
    say(why, detail);
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
    QString sql = selectAll(QStringLiteral("readings"), version_) + QStringLiteral(" WHERE 1");
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
    : db_(store.database())
{
    // BEGIN and the first read of it fix the state the following queries see.
    began_ = db_.transaction();
    QSqlQuery q(db_);
    if (began_)
        q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
}

ReadSnapshot::~ReadSnapshot()
{
    if (began_)
        db_.commit();
}

} // namespace kalvor::records
