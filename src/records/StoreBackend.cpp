#include "records/StoreBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlRecord>
#include <QLocale>
#include <QTemporaryDir>
#include <QDateTime>

#include <sys/stat.h>

#include <atomic>

namespace kalvor::records {

namespace {

void say(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

// The rows of a query as lists of values; nothing when it fails.
std::optional<QList<QVariantList>> rowsOf(const QSqlDatabase& db, const QString& sql, const QVariantList& bind,
                                          QString* why)
{
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : bind)
        q.addBindValue(v);
    if (!q.exec()) {
        say(why, q.lastError().text());
        return std::nullopt;
    }
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

QString insertHead(const TableSchema& t)
{
    QStringList names{QStringLiteral("seq")};
    for (const Column& c : t.columns)
        names << c.name;
    names << QStringLiteral("hash");
    return QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(t.name, names.join(QLatin1Char(',')));
}

// ============================================================================
// SQLite: one file.

// PRAGMA application_id of a record store: "KLVR".
constexpr int kApplicationId = 0x4B4C5652;

// SQLite's result code of an error, without the extended part.
int primaryCode(const QSqlError& error) { return error.nativeErrorCode().toInt() & 0xff; }
constexpr int kSqlitePerm = 3, kSqliteBusy = 5, kSqliteLocked = 6, kSqliteCorrupt = 11, kSqliteAuth = 23,
              kSqliteNotADb = 26;

class SqliteBackend final : public StoreBackend {
public:
    explicit SqliteBackend(QString path) : path_(std::move(path)) {}

    QString driverName() const override { return QStringLiteral("QSQLITE"); }

    StoreOpenError open(const QString& connection, StoreOpenMode mode, QString* why) override
    {
        readOnly_ = mode == StoreOpenMode::ReadOnly;
        using Kind = StoreFileProbe::Kind;
        const StoreFileProbe probe = probeStoreFile(path_);
        switch (probe.kind) {
        case Kind::Missing:
            if (mode != StoreOpenMode::CreateIfMissing) {
                say(why, probe.text);
                return StoreOpenError::Missing;
            }
            break;
        case Kind::NotAFile:
            say(why, probe.text);
            return StoreOpenError::NotARecordStore;
        case Kind::NoAccess:
            say(why, probe.text);
            return StoreOpenError::PermissionDenied;
        case Kind::Empty:
            // An empty file is where a new store goes (the window creates it
            // empty first); read-only, it is no store.
            if (readOnly_) {
                say(why, probe.text);
                return StoreOpenError::NotARecordStore;
            }
            break;
        case Kind::NotSqlite:
            say(why, probe.text);
            return StoreOpenError::Damaged;
        case Kind::Sqlite:
            break;
        }
        return readOnly_ ? openReadOnly(connection, probe.walMode, why)
                         : openForWriting(connection, probe.kind == Kind::Missing, why);
    }

    std::optional<StoreIdentity> identity(const QSqlDatabase& db, QSqlError* error) const override
    {
        QSqlQuery q(db);
        auto fail = [&] {
            *error = q.lastError();
            return std::nullopt;
        };
        if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
            return fail();
        StoreIdentity id;
        id.marked = q.value(0).toInt() == kApplicationId;
        q.finish();
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            return fail();
        id.version = q.value(0).toInt();
        q.finish();
        // The header alone reads well on a file whose schema is broken.
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")))
            return fail();
        while (q.next())
            id.tables << q.value(0).toString();
        return id;
    }

    StoreOpenError failure(const QString& doing, const QSqlError& error, bool readOnly, QString* why) const override
    {
        const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        switch (primaryCode(error)) {
        case kSqliteCorrupt:
        case kSqliteNotADb:
            say(why, QStringLiteral("%1 is damaged: %2").arg(path_, text));
            return StoreOpenError::Damaged;
        case kSqlitePerm:
        case kSqliteAuth:
            say(why, QStringLiteral("cannot %1 %2: permission denied (%3)").arg(doing, path_, text));
            return StoreOpenError::PermissionDenied;
        case kSqliteBusy:
        case kSqliteLocked:
            say(why, QStringLiteral("cannot %1 %2: another program keeps it locked (%3)").arg(doing, path_, text));
            return StoreOpenError::CannotOpen;
        default:
            break;
        }
        if (readOnly) {
            say(why, QStringLiteral("cannot %1 %2: %3").arg(doing, path_, text));
            return StoreOpenError::CannotOpen;
        }
        QString hint;
        if (!storeWritable(path_, &hint))
            hint = QStringLiteral(" (%1; kalvor-batch verify and export read it all the same)").arg(hint);
        say(why, QStringLiteral("cannot open %1 for writing: %2%3").arg(path_, text, hint));
        return StoreOpenError::CannotOpen;
    }

    QString errorText(const QSqlError& error) const override { return error.text(); }

    bool prepareWriting(const QSqlDatabase& db, QString* why) const override
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()
            || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            say(why, q.lastError().isValid() ? q.lastError().text()
                                              : QStringLiteral("cannot switch %1 to write-ahead logging").arg(path_));
            return false;
        }
        q.finish();
        // Every commit reaches the disk before it returns: a confirmed record survives a power cut.
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            say(why, q.lastError().text());
            return false;
        }
        return true;
    }

    // Prepared once per table and number of rows, values bound as they are.
    bool insert(const QSqlDatabase& db, const TableSchema& t, const QList<QVariantList>& rows, QSqlError* error) override
    {
        const QString key = t.name + QLatin1Char('/') + QString::number(rows.size());
        auto it = inserts_.find(key);
        if (it == inserts_.end()) {
            const QString one = QLatin1Char('(') + QStringList(t.columns.size() + 2, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
            QSqlQuery q(db);
            if (!q.prepare(insertHead(t) + QStringList(rows.size(), one).join(QLatin1Char(',')))) {
                *error = q.lastError();
                return false;
            }
            it = inserts_.insert(key, q);
        }
        QSqlQuery& q = *it;
        int i = 0;
        for (const QVariantList& row : rows)
            for (const QVariant& v : row)
                q.bindValue(i++, v);
        if (q.exec())
            return true;
        *error = q.lastError();
        return false;
    }
    void releaseQueries() override { inserts_.clear(); }

    bool connectionLost(const QSqlDatabase&, const QSqlError&) const override { return false; }
    bool reconnect(QSqlDatabase&, QString* why) const override
    {
        say(why, QStringLiteral("%1 is a file; there is nothing to reconnect to").arg(path_));
        return false;
    }
    bool appendAllowed(const QSqlDatabase&, QString* why) const override { return storeWritable(path_, why); }

    bool changedSinceOpen() const override
    {
        if (!readOnly_ || access_ == ReadAccess::InPlace)
            return false;
        if (stampOf(path_) != fileStamp_)
            return true;
        return access_ == ReadAccess::Copy && stampOf(path_ + QStringLiteral("-wal")) != logStamp_;
    }
    ReadAccess readAccess() const override { return access_; }
    void close() override
    {
        copy_.reset();  // after SQLite has let go of the copy
        fileStamp_.reset();
        logStamp_.reset();
        access_ = ReadAccess::InPlace;
    }

    QString columnType(ColumnType type) const override
    {
        switch (type) {
        case ColumnType::Integer:
            return QStringLiteral("INTEGER");
        case ColumnType::Real:
            return QStringLiteral("REAL");
        case ColumnType::Text:
            break;
        }
        return QStringLiteral("TEXT");
    }
    QString keyColumn() const override { return QStringLiteral("seq INTEGER PRIMARY KEY"); }
    QStringList appendOnlyOperations() const override { return {QStringLiteral("UPDATE"), QStringLiteral("DELETE")}; }
    QString triggerSql(const TableSchema& table, const QString& operation) const override
    {
        return QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 BEGIN "
                              "SELECT RAISE(ABORT, 'records are append-only'); END")
            .arg(triggerName(table, operation), operation, table.name);
    }
    QStringList newStoreSql() const override { return {}; }
    QStringList markSql(int version, bool newStore) const override
    {
        QStringList sql;
        if (newStore)
            sql << QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId);
        return sql << QStringLiteral("PRAGMA user_version=%1").arg(version);
    }

    QStringList beginAppend() const override { return {QStringLiteral("BEGIN IMMEDIATE")}; }
    QStringList beginSnapshot() const override
    {
        // BEGIN and the first read of it fix the state the following queries see.
        return {QStringLiteral("BEGIN"), QStringLiteral("SELECT count(*) FROM sqlite_master")};
    }

    Integrity integrity(const QSqlDatabase& db) const override
    {
        QSqlQuery check(db);
        if (!check.exec(QStringLiteral("PRAGMA integrity_check")))
            return {false, check.lastError().databaseText()};
        QStringList problems;
        while (check.next())
            problems << check.value(0).toString();
        return {problems == QStringList{QStringLiteral("ok")}, problems.join(QStringLiteral("; "))};
    }
    std::function<std::optional<Integrity>()> integrityApart(const QSqlDatabase& db) const override
    {
        static std::atomic<int> serial{0};
        const QString from = db.connectionName();
        const QString name = QStringLiteral("%1-integrity-%2").arg(from).arg(++serial);
        return [this, from, name]() -> std::optional<Integrity> {
            std::optional<Integrity> result;
            {
                // The clone opens the same file (or private copy) with the same options.
                QSqlDatabase own = QSqlDatabase::cloneDatabase(from, name);
                if (own.open())
                    result = integrity(own);
                own.close();
            }
            QSqlDatabase::removeDatabase(name);
            return result;
        };
    }
    void readAhead() const override { readAheadFile(readFile_); }

    std::optional<QList<CatalogueColumn>> columns(const QSqlDatabase& db, const QString& table, QString* why) const override
    {
        const auto rows = rowsOf(db, QStringLiteral("PRAGMA table_info(%1)").arg(table), {}, why);
        if (!rows)
            return std::nullopt;
        QList<CatalogueColumn> out;
        for (const QVariantList& r : *rows)
            out << CatalogueColumn{r.value(1).toString(), r.value(2).toString().toUpper(), r.value(5).toInt() > 0};
        return out;
    }
    std::optional<QHash<QString, CataloguePart>> triggers(const QSqlDatabase& db, QString* why) const override
    {
        return parts(db, QStringLiteral("trigger"), why);
    }
    std::optional<QHash<QString, CataloguePart>> indexes(const QSqlDatabase& db, QString* why) const override
    {
        return parts(db, QStringLiteral("index"), why);
    }
    QString expectedTrigger(const QSqlDatabase&, const TableSchema& table, const QString& operation) const override
    {
        return triggerSql(table, operation).simplified();
    }
    QString expectedIndex(const QSqlDatabase&, const TableSchema& table, const QString& index) const override
    {
        return indexSql(table, index).simplified();
    }
    QStringList supportProblems(const QSqlDatabase&) const override { return {}; }
    QString triggerOwner() const override { return QStringLiteral("SQLite"); }

private:
    // Triggers or indexes of the file by name, made by a statement (SQLite's
    // own automatic indexes have none).
    static std::optional<QHash<QString, CataloguePart>> parts(const QSqlDatabase& db, const QString& type, QString* why)
    {
        const auto rows = rowsOf(db, QStringLiteral("SELECT name, tbl_name, sql FROM sqlite_master WHERE type = ? AND sql IS NOT NULL"),
                                 {type}, why);
        if (!rows)
            return std::nullopt;
        QHash<QString, CataloguePart> out;
        for (const QVariantList& r : *rows)
            out.insert(r.value(0).toString(), CataloguePart{r.value(1).toString(), r.value(2).toString().simplified()});
        return out;
    }

    StoreOpenError openForWriting(const QString& connection, bool create, QString* why)
    {
        const QString dir = QFileInfo(path_).absolutePath();
        if (!QFileInfo::exists(dir)) {
            if (!QDir().mkpath(dir)) {
                say(why, QStringLiteral("cannot create the folder %1").arg(dir));
                return StoreOpenError::CannotOpen;
            }
            ::chmod(QFile::encodeName(dir).constData(), 0700);
        }
        if (create) {
            // Created empty first, so that SQLite's file gets the private mode.
            QFile f(path_);
            if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                say(why, QStringLiteral("cannot create %1: %2").arg(path_, f.errorString()));
                return StoreOpenError::CannotOpen;
            }
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(driverName(), connection);
        db.setDatabaseName(path_);
        readFile_ = path_;
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            return failure(QStringLiteral("open"), db.lastError(), false, why);
        return StoreOpenError::None;
    }

    StoreOpenError openReadOnly(const QString& connection, bool walMode, QString* why)
    {
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
                             .arg(path_, original.error() != QFile::NoError      ? original.errorString()
                                         : originalLog.error() != QFile::NoError ? originalLog.errorString()
                                                                                 : copy_->errorString()));
                return StoreOpenError::CannotOpen;
            }
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(driverName(), connection);
        db.setDatabaseName(readOnlyUri(file, access_ == ReadAccess::Immutable));
        readFile_ = file;
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            return failure(QStringLiteral("open"), db.lastError(), true, why);
        return StoreOpenError::None;
    }

    QString path_;
    QString readFile_;  // the file SQLite reads: the store, or its private copy
    bool readOnly_ = false;
    ReadAccess access_ = ReadAccess::InPlace;
    std::optional<FileStamp> fileStamp_;  // for changedSinceOpen()
    std::optional<FileStamp> logStamp_;
    std::unique_ptr<QTemporaryDir> copy_;  // ReadAccess::Copy
    QHash<QString, QSqlQuery> inserts_;    // prepared, by table and number of rows
};

// ============================================================================
// PostgreSQL: a database on a server, through Qt's QPSQL driver.

// The key of the advisory lock that appends take: "KLVR".
constexpr qint64 kAppendLock = 0x4B4C5652;
const QString kTriggerFunction = QStringLiteral("kalvor_append_only");
const QString kTriggerBody = QStringLiteral(
    " BEGIN RAISE EXCEPTION 'records are append-only: % on % refused', TG_OP, TG_TABLE_NAME; END ");

class PostgresBackend final : public StoreBackend {
public:
    explicit PostgresBackend(StoreLocation location) : loc_(std::move(location)) {}

    QString driverName() const override { return QStringLiteral("QPSQL"); }

    StoreOpenError open(const QString& connection, StoreOpenMode mode, QString* why) override
    {
        readOnly_ = mode == StoreOpenMode::ReadOnly;
        if (!QSqlDatabase::isDriverAvailable(driverName())) {
            say(why, QStringLiteral("cannot open %1: Qt's PostgreSQL driver is not installed "
                                    "(Debian package libqt6sql6-psql)")
                         .arg(loc_.display()));
            return StoreOpenError::CannotOpen;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(driverName(), connection);
        if (!loc_.host.isEmpty())
            db.setHostName(loc_.host);
        if (loc_.port > 0)
            db.setPort(loc_.port);
        if (!loc_.user.isEmpty())
            db.setUserName(loc_.user);
        if (!loc_.database.isEmpty())
            db.setDatabaseName(loc_.database);
        // A server that does not answer is given up after a while, and a
        // network that goes away is noticed within seconds, not minutes.
        QList<std::pair<QString, QString>> options{{QStringLiteral("connect_timeout"), QStringLiteral("10")},
                                                   {QStringLiteral("application_name"), QStringLiteral("kalvor-batch")},
                                                   {QStringLiteral("keepalives_idle"), QStringLiteral("10")},
                                                   {QStringLiteral("keepalives_interval"), QStringLiteral("5")},
                                                   {QStringLiteral("keepalives_count"), QStringLiteral("3")},
                                                   {QStringLiteral("tcp_user_timeout"), QStringLiteral("20000")}};
        for (const auto& given : loc_.options) {
            options.removeIf([&](const auto& o) { return o.first == given.first; });
            options.append(given);
        }
        QStringList text;
        for (const auto& [key, value] : options)
            text << key + QLatin1Char('=') + value;
        db.setConnectOptions(text.join(QLatin1Char(';')));
        if (!db.open())
            return failure(QStringLiteral("open"), db.lastError(), readOnly_, why);
        QString detail;
        if (!setUpSession(db, &detail)) {
            say(why, QStringLiteral("cannot prepare the session with %1: %2").arg(loc_.display(), detail));
            return StoreOpenError::CannotOpen;
        }
        return StoreOpenError::None;
    }

    std::optional<StoreIdentity> identity(const QSqlDatabase& db, QSqlError* error) const override
    {
        QSqlQuery q(db);
        auto fail = [&] {
            *error = q.lastError();
            return std::nullopt;
        };
        StoreIdentity id;
        if (!q.exec(QStringLiteral("SELECT c.relname FROM pg_class c WHERE c.relkind IN ('r', 'p', 'v') "
                                   "AND c.relnamespace = current_schema()::regnamespace ORDER BY c.relname")))
            return fail();
        while (q.next())
            id.tables << q.value(0).toString();
        q.finish();
        if (!id.tables.contains(QStringLiteral("kalvor_store")))
            return id;
        id.marked = true;
        if (!q.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM kalvor_store")) || !q.next())
            return fail();
        id.version = q.value(0).toInt();
        return id;
    }

    StoreOpenError failure(const QString& doing, const QSqlError& error, bool, QString* why) const override
    {
        const QString text = cleanText(error);
        const QString code = error.nativeErrorCode();
        const QString where = loc_.display();
        if (code == QLatin1String("3D000") || text.contains(QRegularExpression(QStringLiteral("database \".*\" does not exist")))) {
            say(why, QStringLiteral("there is no database %1 on the server of %2 (%3); an administrator creates it "
                                    "with createdb")
                         .arg(loc_.database, where, text));
            return StoreOpenError::Missing;
        }
        if (code == QLatin1String("28P01") || code == QLatin1String("28000") || code == QLatin1String("42501")
            || text.contains(QLatin1String("password")) || text.contains(QLatin1String("pg_hba.conf"))
            || text.contains(QLatin1String("permission denied")) || text.contains(QLatin1String("authentication failed"))) {
            say(why, QStringLiteral("cannot %1 %2: the server refuses this user (%3); a password comes from "
                                    "~/.pgpass or the file PGPASSFILE names, never from the command line")
                         .arg(doing, where, text));
            return StoreOpenError::PermissionDenied;
        }
        say(why, QStringLiteral("cannot %1 %2: %3").arg(doing, where, text));
        return StoreOpenError::CannotOpen;
    }

    bool connectionLost(const QSqlDatabase& db, const QSqlError& error) const override
    {
        // The driver closes a connection that libpq finds broken; the
        // server says so with a code of class 08 (connection) or 57P
        // (shut down, restarted).
        const QString code = error.nativeErrorCode();
        return !db.isOpen() || code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P"))
               || error.databaseText().contains(QLatin1String("server closed the connection"))
               || error.databaseText().contains(QLatin1String("no connection to the server"));
    }

    bool reconnect(QSqlDatabase& db, QString* why) const override
    {
        db.close();
        if (!db.open()) {
            say(why, QStringLiteral("cannot reach %1: %2").arg(loc_.display(), cleanText(db.lastError())));
            return false;
        }
        return setUpSession(db, why);
    }

    bool appendAllowed(const QSqlDatabase& db, QString* why) const override
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT pg_is_in_recovery(), has_table_privilege('events', 'INSERT')")) || !q.next()) {
            say(why, cleanText(q.lastError()));
            return false;
        }
        if (q.value(0).toBool()) {
            say(why, QStringLiteral("the server is a standby, which is read-only"));
            return false;
        }
        if (!q.value(1).toBool()) {
            say(why, QStringLiteral("this user may not add rows to it"));
            return false;
        }
        return true;
    }

    // One statement with the values written out: the server parses it once,
    // nothing prepared outlives a lost connection, and a double is written
    // in its shortest exact form (the driver's own binding rounds it).
    bool insert(const QSqlDatabase& db, const TableSchema& t, const QList<QVariantList>& rows, QSqlError* error) override
    {
        QString sql = insertHead(t);
        QSqlField text(QStringLiteral("t"), QMetaType(QMetaType::QString));
        const QSqlDriver* driver = db.driver();
        for (qsizetype r = 0; r < rows.size(); ++r) {
            sql += r ? QStringLiteral(",(") : QStringLiteral("(");
            const QVariantList& row = rows[r];
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (i)
                    sql += QLatin1Char(',');
                const QVariant& v = row[i];
                const ColumnType type = i == 0 ? ColumnType::Integer
                                        : i <= t.columns.size() ? t.columns[i - 1].type
                                                                : ColumnType::Text;
                if (v.isNull() || !v.isValid())
                    sql += QStringLiteral("NULL");
                else if (type == ColumnType::Integer)
                    sql += QString::number(v.toLongLong());
                else if (type == ColumnType::Real)
                    sql += QLatin1Char('\'') + QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest) + QLatin1Char('\'');
                else {
                    text.setValue(v.toString());
                    sql += driver->formatValue(text);
                }
            }
            sql += QLatin1Char(')');
        }
        QSqlQuery q(db);
        if (q.exec(sql))
            return true;
        *error = q.lastError();
        return false;
    }

    QString columnType(ColumnType type) const override
    {
        switch (type) {
        case ColumnType::Integer:
            return QStringLiteral("bigint");
        case ColumnType::Real:
            return QStringLiteral("double precision");
        case ColumnType::Text:
            break;
        }
        return QStringLiteral("text");
    }
    QString keyColumn() const override { return QStringLiteral("seq bigint PRIMARY KEY"); }
    QStringList appendOnlyOperations() const override
    {
        return {QStringLiteral("UPDATE"), QStringLiteral("DELETE"), QStringLiteral("TRUNCATE")};
    }
    QString triggerSql(const TableSchema& table, const QString& operation) const override
    {
        return QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH STATEMENT EXECUTE FUNCTION %4()")
            .arg(triggerName(table, operation), operation, table.name, kTriggerFunction);
    }
    QStringList newStoreSql() const override
    {
        return {QStringLiteral("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$%2$$").arg(kTriggerFunction, kTriggerBody),
                QStringLiteral("CREATE TABLE kalvor_store (version integer PRIMARY KEY, made_utc text NOT NULL, "
                               "program_version text NOT NULL)")};
    }
    QStringList markSql(int version, bool) const override
    {
        return {QStringLiteral("INSERT INTO kalvor_store VALUES (%1, '%2', '%3')")
                    .arg(version)
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), QStringLiteral(KALVOR_VERSION))};
    }

    QStringList beginAppend() const override
    {
        return {QStringLiteral("BEGIN"), QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kAppendLock)};
    }
    QStringList beginSnapshot() const override
    {
        return {QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"), QStringLiteral("SELECT 1")};
    }

    bool openInSameState(const QSqlDatabase& db, const QString& name) const override
    {
        // The read transaction's snapshot, exported and taken up by a new
        // session (as pg_dump's parallel jobs share one state). The exporting
        // transaction stays open, and idle, while the others read.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SET LOCAL idle_in_transaction_session_timeout = 0"))
            || !q.exec(QStringLiteral("SELECT pg_export_snapshot()")) || !q.next())
            return false;
        const QString snapshot = q.value(0).toString();
        q.finish();
        bool ok = false;
        {
            QSqlDatabase other = QSqlDatabase::cloneDatabase(db, name);
            QString why;
            if (other.open() && setUpSession(other, &why)) {
                QSqlQuery s(other);
                ok = s.exec(QStringLiteral("SET idle_in_transaction_session_timeout = 0"))
                     && s.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"))
                     && s.exec(QStringLiteral("SET TRANSACTION SNAPSHOT '%1'").arg(snapshot));
            }
            if (!ok)
                other.close();
        }
        if (!ok)
            QSqlDatabase::removeDatabase(name);
        return ok;
    }

    Integrity integrity(const QSqlDatabase& db) const override
    {
        QSqlQuery q(db);
        const QString checksums = q.exec(QStringLiteral("SHOW data_checksums")) && q.next() ? q.value(0).toString()
                                                                                           : QStringLiteral("unknown");
        return {true, QStringLiteral("no file to check: the server keeps its own pages (data checksums %1); "
                                     "pg_amcheck checks its tables and indexes")
                          .arg(checksums)};
    }

    std::optional<QList<CatalogueColumn>> columns(const QSqlDatabase& db, const QString& table, QString* why) const override
    {
        const auto rows = rowsOf(db, QStringLiteral(
            "SELECT a.attname, format_type(a.atttypid, a.atttypmod), "
            "EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary "
            "AND i.indnatts = 1 AND i.indkey[0] = a.attnum) "
            "FROM pg_attribute a WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 AND NOT a.attisdropped "
            "ORDER BY a.attnum"), {table}, why);
        if (!rows)
            return std::nullopt;
        QList<CatalogueColumn> out;
        for (const QVariantList& r : *rows)
            out << CatalogueColumn{r.value(0).toString(), r.value(1).toString(), r.value(2).toBool()};
        return out;
    }
    std::optional<QHash<QString, CataloguePart>> triggers(const QSqlDatabase& db, QString* why) const override
    {
        // A trigger that is there but disabled refuses nothing.
        return parts(db, QStringLiteral(
            "SELECT t.tgname, c.relname, pg_get_triggerdef(t.oid) "
            "|| CASE WHEN t.tgenabled IN ('O', 'A') THEN '' ELSE ' (disabled)' END "
            "FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid "
            "WHERE NOT t.tgisinternal AND c.relnamespace = current_schema()::regnamespace"), why);
    }
    std::optional<QHash<QString, CataloguePart>> indexes(const QSqlDatabase& db, QString* why) const override
    {
        return parts(db, QStringLiteral(
            "SELECT ci.relname, ct.relname, pg_get_indexdef(i.indexrelid) FROM pg_index i "
            "JOIN pg_class ci ON ci.oid = i.indexrelid JOIN pg_class ct ON ct.oid = i.indrelid "
            "WHERE ct.relnamespace = current_schema()::regnamespace AND NOT i.indisprimary"), why);
    }
    QString expectedTrigger(const QSqlDatabase& db, const TableSchema& table, const QString& operation) const override
    {
        return QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3.%4 FOR EACH STATEMENT EXECUTE FUNCTION %5()")
            .arg(triggerName(table, operation), operation, schema(db), table.name, kTriggerFunction);
    }
    QString expectedIndex(const QSqlDatabase& db, const TableSchema& table, const QString& index) const override
    {
        const QString columns = index.mid(index.indexOf(QLatin1Char('(')));
        return QStringLiteral("CREATE INDEX %1 ON %2.%3 USING btree %4").arg(indexName(index), schema(db), table.name, columns);
    }
    QStringList supportProblems(const QSqlDatabase& db) const override
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT prosrc FROM pg_proc WHERE oid = to_regprocedure(?)"));
        q.addBindValue(kTriggerFunction + QStringLiteral("()"));
        if (!q.exec())
            return {QStringLiteral("cannot read the function %1: %2").arg(kTriggerFunction, cleanText(q.lastError()))};
        if (!q.next())
            return {QStringLiteral("function %1 is missing: the append-only triggers cannot run").arg(kTriggerFunction)};
        if (q.value(0).toString().simplified() != kTriggerBody.simplified())
            return {QStringLiteral("function %1 is not the one a record store has: %2")
                        .arg(kTriggerFunction, q.value(0).toString().simplified())};
        return {};
    }
    QString triggerOwner() const override { return QStringLiteral("PostgreSQL"); }

    QString errorText(const QSqlError& error) const override { return cleanText(error); }
    bool prepareWriting(const QSqlDatabase&, QString*) const override { return true; }

private:
    static QString cleanText(const QSqlError& error)
    {
        QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
        // "ERROR:  ...\n(SQLSTATE)" and libpq's own tab-indented lines, as one line.
        text.remove(QRegularExpression(QStringLiteral("\\(\\w{5}\\)\\s*$")));
        text.remove(QRegularExpression(QStringLiteral("^(ERROR|FATAL|PANIC):\\s+")));
        return text.simplified();
    }

    bool setUpSession(const QSqlDatabase& db, QString* why) const
    {
        QStringList sql{// A commit returns once the server has it on disk: the head confirms only then.
                        QStringLiteral("SET synchronous_commit = on"),
                        // As long as SQLite's busy time-out: an append waits that long for another one.
                        QStringLiteral("SET lock_timeout = '10s'"),
                        // A program that stops in the middle of an append does not hold the lock for long.
                        QStringLiteral("SET idle_in_transaction_session_timeout = '60s'"),
                        QStringLiteral("SET client_min_messages = warning")};
        if (readOnly_)
            sql << QStringLiteral("SET default_transaction_read_only = on");
        QSqlQuery q(db);
        for (const QString& s : sql)
            if (!q.exec(s)) {
                say(why, cleanText(q.lastError()));
                return false;
            }
        return true;
    }

    static QString schema(const QSqlDatabase& db)
    {
        QSqlQuery q(db);
        return q.exec(QStringLiteral("SELECT current_schema()")) && q.next() ? q.value(0).toString() : QStringLiteral("public");
    }

    static std::optional<QHash<QString, CataloguePart>> parts(const QSqlDatabase& db, const QString& sql, QString* why)
    {
        const auto rows = rowsOf(db, sql, {}, why);
        if (!rows)
            return std::nullopt;
        QHash<QString, CataloguePart> out;
        for (const QVariantList& r : *rows)
            out.insert(r.value(0).toString(), CataloguePart{r.value(1).toString(), r.value(2).toString().simplified()});
        return out;
    }

    StoreLocation loc_;
    bool readOnly_ = false;
};

} // namespace

std::unique_ptr<StoreBackend> StoreBackend::make(const StoreLocation& location)
{
    if (location.isServer())
        return std::make_unique<PostgresBackend>(location);
    return std::make_unique<SqliteBackend>(location.text);
}

} // namespace kalvor::records
