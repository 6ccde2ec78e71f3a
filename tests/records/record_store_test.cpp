// The record store: rows survive a reopen as written, the chain holds and
// names the first row that was changed or removed outside the program, and
// the program itself cannot change or delete a row.
#include "batch/BatchTestSupport.h"

#include "records/ChainVerifier.h"
#include "records/RecordSchema.h"
#include "records/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <sys/stat.h>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {

// Opens the file as another program would and runs `sql` on it.
bool handEdit(const QString& path, const QStringList& sql)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hand"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& s : sql)
            ok = ok && q.exec(s);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("hand"));
    return ok;
}

// The names in a folder, hidden ones too.
QStringList files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The seq and hash of every row, in order, as another program reads them.
QStringList rowHashes(const QString& path)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        db.setDatabaseName(readOnlyUri(path, true));  // a plain read-only open would leave -wal and -shm
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("SELECT seq, hash FROM batches UNION ALL SELECT seq, hash FROM readings "
                                               "UNION ALL SELECT seq, hash FROM filter_checks UNION ALL "
                                               "SELECT seq, hash FROM events ORDER BY seq")))
            while (q.next())
                out << q.value(0).toString() + QLatin1Char(' ') + q.value(1).toString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
    return out;
}

// A batch, three readings with their events, a filter check.
qint64 fill(RecordStore& store)
{
    QString why;
    BatchRecord b;
    b.name = QStringLiteral("cal-7");
    b.operatorName = QStringLiteral("tester");
    b.idPrefix = QStringLiteral("F-");
    b.idFirst = QStringLiteral("001");
    b.openedUtc = utcNow();
    const qint64 batchSeq = store.appendBatch(b, &why).value_or(0);
    EXPECT_GT(batchSeq, 0) << why.toStdString();
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(store.appendReading(sampleReading(batchSeq, QStringLiteral("F-00%1").arg(i), 0.1 * i),
                                        sampleEvent(event::Capture, batchSeq), &why))
            << why.toStdString();
    FilterCheckRecord f;
    f.timeUtc = utcNow();
    f.item = QStringLiteral("na");
    f.filter = QStringLiteral("light");
    f.shown = QStringLiteral("0.301");
    f.value = 0.301;
    EXPECT_TRUE(store.appendFilterCheck(f, &why)) << why.toStdString();
    return batchSeq;
}

} // namespace

TEST(RecordStore, RowsReadBackAsWrittenAndTheChainGoesOnAfterAReopen)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    const qint64 batchSeq = fill(t.store);
    EXPECT_EQ(t.store.lastSeq(), 8);  // batch, 3 x (reading + event), filter check

    ReadingRecord repeat = sampleReading(batchSeq, QStringLiteral("F-002"), 0.2005);
    repeat.repeats = 4;
    repeat.readerSerial = QString();  // empty text stays empty text, not NULL
    t.store.close();
    ASSERT_TRUE(t.open());
    QString why;
    const std::optional<qint64> seq = t.store.appendReading(repeat, sampleEvent(event::ReRead, batchSeq), &why);
    ASSERT_TRUE(seq) << why.toStdString();
    EXPECT_EQ(*seq, 9);

    const std::optional<ReadingRecord> back = t.store.reading(*seq);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dosimeterId, QStringLiteral("F-002"));
    EXPECT_EQ(back->absorbance, 0.2005);
    EXPECT_EQ(back->shown, QStringLiteral(" 0.201"));
    EXPECT_EQ(back->repeats, std::optional<qint64>(4));
    EXPECT_FALSE(back->corrects);
    EXPECT_EQ(back->readerSerial, QString(""));
    EXPECT_EQ(t.store.readings(batchSeq).size(), 4);
    const QList<EventRecord> events = t.store.events(batchSeq);
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events.last().reading, std::optional<qint64>(9)) << "the event names its reading";

    const ChainReport report = verifyChain(t.store);
    EXPECT_TRUE(report.ok()) << report.summary().toStdString();
    EXPECT_EQ(report.rows, 10);
}

TEST(RecordStore, IsPrivateWriteAheadLoggedAndAppendOnly)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    fill(t.store);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(t.path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QSqlQuery q(t.store.database());
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("wal"));
    EXPECT_FALSE(q.exec(QStringLiteral("UPDATE readings SET absorbance = 0.5 WHERE seq = 2")));
    EXPECT_FALSE(q.exec(QStringLiteral("DELETE FROM events")));
    EXPECT_TRUE(verifyChain(t.store).ok());
}

TEST(RecordStore, VerifyNamesTheFirstRowChangedOrRemovedOutsideTheProgram)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    fill(t.store);
    t.store.close();
    // Row 4 is the second reading (F-002).
    ASSERT_TRUE(handEdit(t.path, {QStringLiteral("DROP TRIGGER readings_no_update"),
                                  QStringLiteral("UPDATE readings SET absorbance = 0.25 WHERE seq = 4")}));
    ASSERT_TRUE(t.open());
    ChainReport report = verifyChain(t.store);
    ASSERT_FALSE(report.ok());
    ASSERT_TRUE(report.firstBreak);
    EXPECT_EQ(report.firstBreak->seq, 4);
    EXPECT_TRUE(report.summary().contains(QStringLiteral("row 4 of readings (dosimeter F-002)"))) << report.summary().toStdString();
    EXPECT_EQ(report.schemaProblems,
              QStringList{QStringLiteral("trigger readings_no_update is missing: rows of readings can be changed unnoticed by SQLite")});

    // A removed row shows as a gap where it was.
    TempStore u;
    ASSERT_TRUE(u.open());
    fill(u.store);
    u.store.close();
    const TableSchema& events = recordTable(QStringLiteral("events"));
    ASSERT_TRUE(handEdit(u.path, {QStringLiteral("DROP TRIGGER events_no_delete"),
                                  QStringLiteral("DELETE FROM events WHERE seq = 5"),
                                  StoreBackend::make(StoreLocation{})->triggerSql(events, QStringLiteral("DELETE")),  // put back, as a forger would
                                  QStringLiteral("ALTER TABLE batches ADD COLUMN note TEXT"),
                                  QStringLiteral("DROP INDEX readings_time")}));
    ASSERT_TRUE(u.open());
    report = verifyChain(u.store);
    ASSERT_TRUE(report.firstBreak);
    EXPECT_EQ(report.firstBreak->seq, 5);
    EXPECT_TRUE(report.summary().contains(QStringLiteral("row is missing"))) << report.summary().toStdString();
    EXPECT_EQ(report.schemaProblems.size(), 2) << report.summary().toStdString();
    EXPECT_TRUE(report.summary().contains(QStringLiteral("index readings_time is missing")));
    EXPECT_TRUE(report.summary().contains(QStringLiteral("table batches has a column note")));
}

TEST(RecordStore, OpensOnlyItsOwnFiles)
{
    QTemporaryDir dir;
    QString why;
    RecordStore store;
    EXPECT_EQ(store.open(dir.path() + QStringLiteral("/none.sqlite"), RecordStore::OpenMode::ExistingOnly, &why),
              RecordStore::OpenError::Missing);
    EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/none.sqlite")));

    const QString text = dir.path() + QStringLiteral("/text.sqlite");
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    EXPECT_EQ(store.open(text, RecordStore::OpenMode::CreateIfMissing, &why), RecordStore::OpenError::Damaged);
    EXPECT_EQ(store.open(text, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::Damaged);
    EXPECT_TRUE(why.contains(QStringLiteral("not an SQLite database file"))) << why.toStdString();

    const QString foreign = dir.path() + QStringLiteral("/foreign.sqlite");
    ASSERT_TRUE(handEdit(foreign, {QStringLiteral("CREATE TABLE t (x)")}));
    EXPECT_EQ(store.open(foreign, RecordStore::OpenMode::CreateIfMissing, &why), RecordStore::OpenError::NotARecordStore);
    EXPECT_EQ(store.open(foreign, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::NotARecordStore);
    EXPECT_TRUE(why.endsWith(QStringLiteral("is an SQLite database, but not a KALVOR record store (its tables: t)")))
        << why.toStdString();

    TempStore newer;
    ASSERT_TRUE(newer.open());
    fill(newer.store);
    newer.store.close();
    const QString broken = dir.path() + QStringLiteral("/broken.sqlite");
    ASSERT_TRUE(QFile::copy(newer.path, broken));
    ASSERT_TRUE(handEdit(newer.path, {QStringLiteral("PRAGMA user_version = %1").arg(RecordStore::kSchemaVersion + 1)}));
    EXPECT_EQ(store.open(newer.path, RecordStore::OpenMode::ExistingOnly, &why), RecordStore::OpenError::TooNew);
    EXPECT_EQ(store.open(newer.path, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::TooNew);
    EXPECT_TRUE(why.contains(QStringLiteral("newer"))) << why.toStdString();

    // The header intact, the table of tables behind it overwritten.
    QFile b(broken);
    ASSERT_TRUE(b.open(QIODevice::ReadWrite) && b.seek(100) && b.write(QByteArray(900, '\x5a')) == 900);
    b.close();
    EXPECT_EQ(store.open(broken, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::Damaged);
    EXPECT_TRUE(why.contains(QStringLiteral("broken.sqlite is damaged: "))) << why.toStdString();
}

TEST(RecordStore, ReadOnlyOpensReadEveryStateOfTheFileAndLeaveNoFileBesideIt)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    fill(t.store);  // 8 rows, all still in the write-ahead log
    const QString folder = QFileInfo(t.path).absolutePath();
    const QStringList live = files(folder);
    ASSERT_EQ(live, (QStringList{"records.sqlite", "records.sqlite-shm", "records.sqlite-wal"}));
    // What a crash leaves: the file and its log, with and without the log's index.
    QTemporaryDir crashed, crashedBare;
    for (const QString& name : live) {
        ASSERT_TRUE(QFile::copy(folder + '/' + name, crashed.filePath(name)));
        if (!name.endsWith(QLatin1String("-shm"))) {
            ASSERT_TRUE(QFile::copy(folder + '/' + name, crashedBare.filePath(name)));
        }
    }
    QString why;
    const QList<std::pair<QString, ReadAccess>> cases{{t.path, ReadAccess::InPlace},
                                                      {crashed.filePath("records.sqlite"), ReadAccess::InPlace},
                                                      {crashedBare.filePath("records.sqlite"), ReadAccess::Copy}};
    for (const auto& [path, access] : cases) {
        const QString where = QFileInfo(path).absolutePath();
        const QStringList before = files(where);
        {
            RecordStore ro;
            ASSERT_EQ(ro.open(path, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::None) << why.toStdString();
            EXPECT_EQ(ro.readAccess(), access) << path.toStdString();
            const ChainReport report = verifyChain(ro);
            EXPECT_TRUE(report.ok()) << report.summary().toStdString();
            EXPECT_EQ(report.rows, 8) << path.toStdString();
            EXPECT_FALSE(ro.appendEvent(sampleEvent(event::Export), &why));
        }
        EXPECT_EQ(files(where), before) << path.toStdString();
    }

    // Closed, the store is the file alone, read as it is.
    t.store.close();
    ASSERT_EQ(files(folder), QStringList{"records.sqlite"});
    RecordStore ro;
    ASSERT_EQ(ro.open(t.path, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::None) << why.toStdString();
    EXPECT_EQ(ro.readAccess(), ReadAccess::Immutable);
    EXPECT_EQ(ro.lastSeq(), 8);
    // A window that opens it meanwhile writes to its own log; its close
    // writes the log into the file, and what was read may be out of step.
    ASSERT_TRUE(t.open());
    ASSERT_TRUE(t.store.appendEvent(sampleEvent(event::ProgramStart), &why));
    EXPECT_FALSE(ro.changedSinceOpen());
    t.store.close();
    EXPECT_TRUE(ro.changedSinceOpen());
    ro.close();
    EXPECT_EQ(files(folder), QStringList{"records.sqlite"});
}

TEST(RecordStore, AVersionOneStoreIsReadAsItIsAndMigratesKeepingEveryRowAndItsHash)
{
    // Written by the program before schema version 2 (data/README.md).
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KALVOR_SOURCE_DIR "/tests/records/data/store-v1.sqlite"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QStringList rows = rowHashes(path);
    ASSERT_EQ(rows.size(), 21);
    QString why;
    {
        RecordStore ro;
        ASSERT_EQ(ro.open(path, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::None) << why.toStdString();
        const ChainReport report = verifyChain(ro);
        EXPECT_TRUE(report.ok()) << report.summary().toStdString();
        EXPECT_EQ(report.schemaVersion, 1);
        const std::optional<BatchRecord> batch = ro.batchNamed(QStringLiteral("cal-2026-11"));
        ASSERT_TRUE(batch);
        EXPECT_EQ(ro.readings(batch->seq).size(), 6);
    }
    EXPECT_EQ(files(dir.path()), QStringList{"records.sqlite"});

    RecordStore store;
    ASSERT_EQ(store.open(path, RecordStore::OpenMode::ExistingOnly, &why), RecordStore::OpenError::None) << why.toStdString();
    EXPECT_EQ(store.schemaVersion(), 2);
    EXPECT_EQ(rowHashes(path), rows);
    QSqlQuery q(store.database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM readings WHERE supersedes IS NULL AND reason IS NULL "
                                      "AND thickness_mm IS NULL AND position IS NULL")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), 6);
    q.finish();

    const qint64 batch = store.batchNamed(QStringLiteral("cal-2026-11"))->seq;
    ReadingRecord again = sampleReading(batch, QStringLiteral("F-005"), 0.7312);
    again.supersedes = 17;
    again.repeats = 17;
    again.reason = QStringLiteral("smudge on the film");
    again.thicknessMm = 0.278;
    again.position = QStringLiteral("B3");
    const std::optional<qint64> seq = store.appendReading(again, sampleEvent(event::ReRead, batch), &why);
    ASSERT_EQ(seq, std::optional<qint64>(22)) << why.toStdString();
    const ChainReport report = verifyChain(store);
    EXPECT_TRUE(report.ok()) << report.summary().toStdString();
    EXPECT_EQ(report.rows, 23);
    EXPECT_EQ(store.reading(22)->thicknessMm, std::optional<double>(0.278));
    EXPECT_EQ(store.reading(22)->supersedes, std::optional<qint64>(17));
}

TEST(RecordSchema, TheCanonicalContentAndItsHashAreTheBytesEveryStoredChainWasMadeWith)
{
    // Written out by hand from the format, hashed by Python's hashlib: any
    // change here would break the chain of every store already written.
    const TableSchema t{QStringLiteral("t"),
                        {{QStringLiteral("i"), ColumnType::Integer}, {QStringLiteral("r"), ColumnType::Real},
                         {QStringLiteral("q"), ColumnType::Real}, {QStringLiteral("s"), ColumnType::Text},
                         {QStringLiteral("b"), ColumnType::Text}, {QStringLiteral("n"), ColumnType::Text}}};
    const QString text = QStringLiteral("Grüße, 5 kGy");
    const QByteArray content = canonicalContent(
        t, 42, {qint64(-9007199254740993), 0.1, 1e-7, text, text.toUtf8(), QVariant()});
    EXPECT_EQ(content, QByteArray("KALVOR-RECORD/1\ntable=t\nseq=42\ni=I17:-9007199254740993\nr=R3:0.1\nq=R5:1e-07\n"
                                  "s=T14:Grüße, 5 kGy\nb=T14:Grüße, 5 kGy\n"));
    EXPECT_EQ(chainHash(genesisHash(), content),
              QByteArray("97f978613309987ad4bd7330aeb8f9301f0877d6929e08defbcbd1b042572553"));
}

TEST(RecordSchema, ColumnsThatALaterVersionAddsLeaveOlderRowsHashesAlone)
{
    const TableSchema& events = recordTable(QStringLiteral("events"));
    TableSchema later = events;
    later.columns.append({QStringLiteral("added_later"), ColumnType::Text});
    QVariantList values{QStringLiteral("2026-12-07T10:00:00.000Z"), QStringLiteral("capture"), 3, QVariant(),
                        QStringLiteral(""), QStringLiteral("tester"), QStringLiteral("1.0.0")};
    const QByteArray before = canonicalContent(events, 7, values);
    values.append(QVariant());
    EXPECT_EQ(canonicalContent(later, 7, values), before);
    // An empty text is content; a NULL is not.
    values[4] = QVariant();
    EXPECT_NE(canonicalContent(later, 7, values), before);
}

namespace {

// A forger's tools: the append-only triggers dropped and put back.
QStringList dropTriggers()
{
    QStringList sql;
    for (const TableSchema& t : recordTables())
        for (const QString& op : {QStringLiteral("UPDATE"), QStringLiteral("DELETE")})
            sql << QStringLiteral("DROP TRIGGER %1").arg(triggerName(t, op));
    return sql;
}

QStringList triggersBack()
{
    QStringList sql;
    for (const TableSchema& t : recordTables())
        for (const QString& op : {QStringLiteral("UPDATE"), QStringLiteral("DELETE")})
            sql << StoreBackend::make(StoreLocation{})->triggerSql(t, op);
    return sql;
}

} // namespace

TEST(ChainVerifier, AKeptHeadShowsAStoreCutShortOrReHashedThatStillChainsUp)
{
    using R = ChainReport::HeadCheck::Result;
    TempStore t;
    ASSERT_TRUE(t.open());
    fill(t.store);
    const ChainHead kept = t.store.head();
    ASSERT_EQ(kept.rows, 8);
    EXPECT_TRUE(verifyChain(t.store, KeptHead{kept.hash, std::nullopt}).ok());
    QString why;
    ASSERT_TRUE(t.store.appendEvent(sampleEvent(event::ProgramStop), &why));
    ChainReport report = verifyChain(t.store, KeptHead{kept.hash, std::nullopt});
    ASSERT_TRUE(report.head);
    EXPECT_EQ(report.head->result, R::Grown);
    EXPECT_EQ(report.head->foundAt, 8);
    EXPECT_FALSE(report.ok()) << "the last row is not the kept one";
    EXPECT_TRUE(verifyChain(t.store, KeptHead{kept.hash, 8}).ok()) << "rows added after the kept one";
    t.store.close();

    // Cut short: the last two rows gone, the triggers back in place.
    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("cut.sqlite"));
    ASSERT_TRUE(QFile::copy(t.path, cut));
    ASSERT_TRUE(handEdit(cut, dropTriggers() + QStringList{QStringLiteral("DELETE FROM events WHERE seq = 9"),
                                                        QStringLiteral("DELETE FROM filter_checks WHERE seq = 8")}
                                   + triggersBack()));
    RecordStore store;
    ASSERT_EQ(store.open(cut, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::None) << why.toStdString();
    report = verifyChain(store, KeptHead{kept.hash, 8});
    EXPECT_TRUE(report.integrityOk && report.schemaProblems.isEmpty() && !report.firstBreak) << report.summary().toStdString();
    EXPECT_EQ(report.head->result, R::Truncated);
    EXPECT_EQ(report.summary(), QStringLiteral("the store is cut short: it ends at row 7, the kept head is row 8"));
    EXPECT_EQ(verifyChain(store, KeptHead{kept.hash, std::nullopt}).head->result, R::Unknown);
    store.close();

    // Re-hashed: what a forger who recomputes every hash after an edit
    // leaves is a store that chains up to other hashes, as one written anew does.
    TempStore rewritten;
    ASSERT_TRUE(rewritten.open());
    ASSERT_TRUE(rewritten.store.appendEvent(sampleEvent(event::ProgramStart), &why));
    fill(rewritten.store);
    EXPECT_TRUE(verifyChain(rewritten.store).ok()) << "the chain alone cannot tell";
    report = verifyChain(rewritten.store, KeptHead{kept.hash, 8});
    EXPECT_EQ(report.head->result, R::Rehashed);
    EXPECT_FALSE(report.ok());
    EXPECT_TRUE(report.summary().startsWith(QStringLiteral("the chain was re-hashed: row 8 has hash "))) << report.summary().toStdString();
}

TEST(ChainVerifier, ADamagedPageThatTheChainNeverReadsStillFailsTheStore)
{
    // An index page of the readings overwritten: the rows and their chain are
    // intact, so only SQLite's own check, run beside the walk, can tell.
    TempStore t;
    ASSERT_TRUE(t.open());
    fill(t.store);
    t.store.close();
    qint64 page = 0, pageSize = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("look"));
        db.setDatabaseName(t.path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE type = 'index' "
                                          "AND tbl_name = 'readings' AND sql IS NOT NULL")) && q.next());
        page = q.value(0).toLongLong();
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA page_size")) && q.next());
        pageSize = q.value(0).toLongLong();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("look"));
    QFile file(t.path);
    ASSERT_TRUE(page > 1 && file.open(QIODevice::ReadWrite) && file.seek((page - 1) * pageSize));
    ASSERT_EQ(file.write(QByteArray(int(pageSize), '\xA5')), pageSize);
    file.close();

    RecordStore store;
    QString why;
    ASSERT_EQ(store.open(t.path, RecordStore::OpenMode::ReadOnly, &why), RecordStore::OpenError::None) << why.toStdString();
    const ChainReport report = verifyChain(store);
    EXPECT_FALSE(report.ok());
    EXPECT_FALSE(report.integrityOk);
    ASSERT_EQ(report.lines().size(), 1);
    EXPECT_TRUE(report.lines().first().startsWith(QStringLiteral("the file fails SQLite's integrity check: ")))
        << report.lines().first().toStdString();
}
