// The export: which record is current, cells that cannot become formulas
// (and --raw ones that are as stored), and the chain head in the chain file
// and in the store's export event.
#include "batch/BatchTestSupport.h"

#include "records/Csv.h"
#include "records/CsvExport.h"
#include "records/CurrentRecords.h"

#include <QCryptographicHash>
#include <QFile>

using namespace kalvor;
using namespace kalvor::records;
using namespace kalvor::batchtest;

TEST(CurrentRecords, ALaterRowOfTheSameBatchThatNamesAReadingSupersedesIt)
{
    auto row = [](qint64 seq, qint64 batch, std::optional<qint64> repeats = {}, std::optional<qint64> corrects = {},
                  std::optional<qint64> supersedes = {}) {
        ReadingRecord r;
        r.seq = seq;
        r.batch = batch;
        r.repeats = repeats;
        r.corrects = corrects;
        r.supersedes = supersedes;
        return r;
    };
    const QList<ReadingRecord> rows{row(2, 1),          row(3, 1),           row(4, 1, 2),  // re-read of 2
                                    row(5, 1, {}, 3),   row(6, 1, {}, {}, 5),               // 3 corrected, then superseded
                                    row(7, 9, 4),                                           // another batch names 4
                                    row(8, 1, {}, {}, 9), row(9, 1)};                       // names a later row
    EXPECT_EQ(currentFlags(rows), (QList<bool>{false, false, true, false, true, true, true, true}));
}

TEST(CsvExport, CellsCannotBecomeFormulasAndEachExportNamesItsChainHead)
{
    for (const char* same : {"F-001", "-0.004", "+1.5e-3", "0.5", "", " =padded"})
        EXPECT_EQ(csv::neutralised(QString::fromUtf8(same)), QString::fromUtf8(same));
    for (const char* formula : {"=1+2", "+A1", "-2+3", "@SUM(A1)", "\tx", "\rx", "-", "=HYPERLINK(\"http://x\")"})
        EXPECT_EQ(csv::neutralised(QString::fromUtf8(formula)), QLatin1Char('\'') + QString::fromUtf8(formula));

    TempStore t;
    ASSERT_TRUE(t.open());
    QString why;
    BatchRecord b;
    b.name = QStringLiteral("=cal");
    b.lot = QStringLiteral("@L7");
    const qint64 batch = t.store.appendBatch(b, &why).value_or(0);
    auto add = [&](ReadingRecord r, const char* time) {
        r.timeUtc = QString::fromLatin1(time);
        return t.store.appendReading(r, sampleEvent(event::Capture, batch), &why).value_or(0);
    };
    const qint64 first = add(sampleReading(batch, QStringLiteral("F-1"), 0.5), "2026-12-07T10:00:00.000Z");
    const qint64 negative = add(sampleReading(batch, QStringLiteral("F-2"), -0.004), "2026-12-07T10:01:00.000Z");
    ReadingRecord again = sampleReading(batch, QStringLiteral("F-1"), 0.501);
    again.repeats = first;
    add(again, "2026-12-07T11:00:00.000Z");
    ReadingRecord voided;
    voided.batch = batch;
    voided.dosimeterId = QStringLiteral("=HYPERLINK(\"http://x\")");
    voided.status = QStringLiteral("void");
    voided.supersedes = negative;
    voided.reason = QStringLiteral("-film torn");
    add(voided, "2026-12-07T11:01:00.000Z");

    ExportSelection selection;
    selection.batchName = b.name;
    std::optional<ExportData> data = readExport(t.store, selection, &why);
    ASSERT_TRUE(data) << why.toStdString();
    const QList<QByteArray> lines = csvText(*data, false).split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines[0].contains(",repeats,corrects,current,supersedes,reason,thickness_mm,"));
    // Readings without a dose leave the eight dose columns empty.
    const QByteArray noDose = ",,,,,,,,\r";
    EXPECT_TRUE(lines[1].startsWith("2,'=cal,'@L7,F-1,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(",,,0,," + noDose)) << "re-read later";
    EXPECT_TRUE(lines[2].contains(",-0.004,-0.004,0.001,3,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(",0,," + noDose)) << "made void later";
    EXPECT_TRUE(lines[3].endsWith(",2,,1,," + noDose)) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("8,'=cal,'@L7,\"'=HYPERLINK(\"\"http://x\"\")\",2026-12-07T11:01:00.000Z,,,,,"))
        << "a void record has no absorbance, spread or readings: " << lines[4].toStdString();
    EXPECT_TRUE(lines[4].endsWith(",void,,,,,,1,4,'-film torn" + noDose)) << lines[4].toStdString();
    EXPECT_TRUE(csvText(*data, true).contains("8,=cal,@L7,\"=HYPERLINK(")) << "--raw keeps cells as stored";

    // A time range that leaves the re-read out still knows it came.
    selection.to = QDateTime::fromString(QStringLiteral("2026-12-07T10:30:00Z"), Qt::ISODate);
    data = readExport(t.store, selection, &why);
    ASSERT_TRUE(data) << why.toStdString();
    EXPECT_EQ(data->current, (QList<bool>{false, false}));

    const QString csvPath = t.dir.filePath(QStringLiteral("cal.csv"));
    const ChainHead head = t.store.head();
    ASSERT_EQ(head.rows, 9);
    ASSERT_EQ(exportReadingsCsv(t.store, ExportSelection{b.name, {}, {}}, csvPath, QStringLiteral("ann"), &why),
              std::optional<int>(4))
        << why.toStdString();
    QFile csvFile(csvPath), chainFile(csvPath + QStringLiteral(".chain"));
    ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly) && chainFile.open(QIODevice::ReadOnly));
    const QString chain = QString::fromUtf8(chainFile.readAll());
    EXPECT_TRUE(chain.contains(QStringLiteral("\ncsv_sha256: %1\n").arg(QString::fromLatin1(
        QCryptographicHash::hash(csvFile.readAll(), QCryptographicHash::Sha256).toHex()))))
        << chain.toStdString();
    EXPECT_TRUE(chain.contains(QStringLiteral("\nchain_rows: 9\nchain_last_hash: %1\n").arg(QString::fromLatin1(head.hash))))
        << chain.toStdString();
    EXPECT_TRUE(chain.contains(QStringLiteral("\nselection: batch =cal\n")));
    EXPECT_TRUE(chain.contains(QStringLiteral(" --expect %1 --at 9\n").arg(QString::fromLatin1(head.hash))));
    const EventRecord recorded = t.store.events(batch).constLast();
    EXPECT_EQ(recorded.kind, event::Export);
    EXPECT_TRUE(recorded.detail.endsWith(QStringLiteral("; chain head row 9, hash %1").arg(QString::fromLatin1(head.hash))))
        << recorded.detail.toStdString();
}
