// The record store: rows survive a reopen as written, the chain holds and
// names the first row that was changed or removed outside the program, and
// the program itself cannot change or delete a row.
#include "batch/BatchTestSupport.h"

#include "records/ChainVerifier.h"
#include "records/RecordSchema.h"

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

    // A removed row shows as a gap where it was.
    TempStore u;
    ASSERT_TRUE(u.open());
    fill(u.store);
    u.store.close();
    ASSERT_TRUE(handEdit(u.path, {QStringLiteral("DROP TRIGGER events_no_delete"),
                                  QStringLiteral("DELETE FROM events WHERE seq = 5")}));
    ASSERT_TRUE(u.open());
    report = verifyChain(u.store);
    ASSERT_TRUE(report.firstBreak);
    EXPECT_EQ(report.firstBreak->seq, 5);
    EXPECT_TRUE(report.summary().contains(QStringLiteral("missing"))) << report.summary().toStdString();
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
    EXPECT_EQ(store.open(text, RecordStore::OpenMode::CreateIfMissing, &why), RecordStore::OpenError::NotARecordStore);

    const QString foreign = dir.path() + QStringLiteral("/foreign.sqlite");
    ASSERT_TRUE(handEdit(foreign, {QStringLiteral("CREATE TABLE t (x)")}));
    EXPECT_EQ(store.open(foreign, RecordStore::OpenMode::CreateIfMissing, &why), RecordStore::OpenError::NotARecordStore);

    TempStore newer;
    ASSERT_TRUE(newer.open());
    newer.store.close();
    ASSERT_TRUE(handEdit(newer.path, {QStringLiteral("PRAGMA user_version = %1").arg(RecordStore::kSchemaVersion + 1)}));
    EXPECT_EQ(store.open(newer.path, RecordStore::OpenMode::ExistingOnly, &why), RecordStore::OpenError::TooNew);
    EXPECT_TRUE(why.contains(QStringLiteral("newer"))) << why.toStdString();
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
