// kalvor-batch's command line: what each form means, what it refuses, and
// the export and verify commands on a store.
#include "batch/BatchTestSupport.h"

#include "batch/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <sys/stat.h>
#include <unistd.h>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {
CommandLine parse(const QStringList& args) { return parseCommandLine(QStringList{QStringLiteral("kalvor-batch")} + args); }
} // namespace

TEST(BatchCommandLine, TellsTheWindowFromTheCommandsAndRefusesWhatDoesNotFit)
{
    CommandLine cl = parse({"--batch", "cal 7", "--operator", "ann", "--lot", "L1", "--ids", "ids.csv", "--readings", "4", "--band", "0.001"});
    EXPECT_EQ(cl.mode, CommandLine::Mode::Window);
    EXPECT_TRUE(cl.batchGiven);
    EXPECT_EQ(cl.batch.name, QStringLiteral("cal 7"));
    EXPECT_EQ(cl.batch.operatorName, QStringLiteral("ann"));
    EXPECT_EQ(cl.idsFile, QStringLiteral("ids.csv"));
    ASSERT_TRUE(cl.rule);
    EXPECT_EQ(cl.rule->count, 4);
    EXPECT_EQ(cl.rule->band, 0.001);
    EXPECT_EQ(cl.rule->timeoutMs, 10000);

    cl = parse({"export", "--batch", "cal", "--csv", "out.csv", "--from", "2026-12-07", "--to", "2026-12-07"});
    EXPECT_EQ(cl.mode, CommandLine::Mode::Export);
    EXPECT_EQ(cl.selection.from.msecsTo(cl.selection.to), 24 * 3600 * 1000) << "--to names the last day read";
    EXPECT_EQ(parse({"verify", "--store", "/x/r.sqlite"}).storePath, QStringLiteral("/x/r.sqlite"));
    EXPECT_EQ(parse({"--help"}).mode, CommandLine::Mode::Help);

    for (const QStringList& bad : QList<QStringList>{{"export", "--batch", "cal"},
                                                     {"export", "--csv", "x.csv"},
                                                     {"verify", "--batch", "cal"},
                                                     {"--csv", "x.csv"},
                                                     {"--operator", "ann"},
                                                     {"--batch", "c", "--readings", "1"},
                                                     {"--batch", "c", "--first", "x1"},
                                                     {"export", "--csv", "x", "--from", "yesterday"},
                                                     {"frobnicate"},
                                                     {"--nope"}})
        EXPECT_EQ(parse(bad).mode, CommandLine::Mode::Error) << bad.join(' ').toStdString();
    EXPECT_TRUE(helpText().contains(QStringLiteral("Exit status")));
}

TEST(BatchCommandLine, ExportWritesOneLinePerReadingAndVerifySaysWhetherTheChainHolds)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    QString why;
    BatchRecord b;
    b.name = QStringLiteral("cal");
    b.lot = QStringLiteral("L, 7");
    const qint64 seq = t.store.appendBatch(b, &why).value_or(0);
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(t.store.appendReading(sampleReading(seq, QStringLiteral("F-%1").arg(i), 0.25 * i),
                                          sampleEvent(event::Capture, seq), &why));
    t.store.close();

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QString outText, errText;
    QTextStream out(&outText), err(&errText);
    CommandLine cl = parse({"export", "--batch", "cal", "--csv", t.dir.path() + "/out.csv", "--store", t.path});
    EXPECT_EQ(runExport(cl, out, err), exitcode::Ok) << errText.toStdString();
    QLocale::setDefault(before);
    QFile f(t.dir.path() + QStringLiteral("/out.csv"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 5);  // header, 3 readings, nothing after the last CR LF
    EXPECT_TRUE(lines[0].startsWith("record,batch,lot,dosimeter_id,time_utc,absorbance_shown,absorbance,"));
    EXPECT_TRUE(lines[2].contains("cal,\"L, 7\",F-2,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(",\" 0.500\",0.5,0.001,3,510 nm,")) << lines[2].toStdString();
    EXPECT_TRUE(QFile::exists(t.dir.path() + QStringLiteral("/out.csv.chain")));
    EXPECT_EQ(QDir(QFileInfo(t.path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("records.sqlite")})
        << "the export's event is written and its files are gone again";

    cl = parse({"export", "--batch", "other", "--csv", t.dir.path() + "/none.csv", "--store", t.path});
    EXPECT_EQ(runExport(cl, out, err), exitcode::Failed);
    EXPECT_FALSE(QFile::exists(t.dir.path() + QStringLiteral("/none.csv")));

    cl = parse({"verify", "--store", t.path});
    EXPECT_EQ(runVerify(cl, out, err), exitcode::Ok) << errText.toStdString();
    EXPECT_TRUE(outText.contains(QStringLiteral("chain intact: 8 rows"))) << outText.toStdString();  // with the export event
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(t.path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("DROP TRIGGER readings_no_update")));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE readings SET dosimeter_id = 'F-' || char(27) || '[2J' WHERE seq = 4")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
    errText.clear();
    EXPECT_EQ(runVerify(cl, out, err), exitcode::Failed);
    EXPECT_TRUE(errText.contains(QStringLiteral("row 4 of readings (dosimeter F-\\x1b[2J)"))) << errText.toStdString();
    EXPECT_FALSE(errText.contains(QChar(27))) << "no escape sequence reaches the terminal";
    EXPECT_EQ(runVerify(parse({"verify", "--store", t.dir.path() + "/missing.sqlite"}), out, err), exitcode::StoreError);
}

TEST(BatchCommandLine, ReadsAnArchiveInAFolderItCannotWriteAndSaysWhyItCannotReadOne)
{
    // Root may write anywhere: the commands run as the unprivileged user nobody.
    const QString program = QStringLiteral(KALVOR_BIN_DIR "/kalvor-batch");
    if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/sbin/runuser")) || !QFile::exists(program))
        GTEST_SKIP() << "needs root, runuser and kalvor-batch built in " KALVOR_BIN_DIR;
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("archive")), out = dir.filePath(QStringLiteral("out"));
    const QString store = archive + QStringLiteral("/records.sqlite");
    ASSERT_TRUE(QDir().mkpath(archive) && QDir().mkpath(out));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KALVOR_SOURCE_DIR "/tests/records/data/store-v1.sqlite"), store));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(archive).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(store).constData(), 0644), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(out).constData(), 0777), 0);
    struct Run {
        int status = -1;
        QString out, err;
    };
    auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.start(QStringLiteral("/usr/sbin/runuser"), QStringList{"-u", "nobody", "--", program} + arguments);
        Run r;
        if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
            r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    };
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    Run r = run({"verify", "--store", store});
    EXPECT_EQ(r.status, exitcode::Ok) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("chain intact: 21 rows"))) << r.out.toStdString();
    r = run({"export", "--batch", "cal-2026-11", "--csv", out + "/cal.csv", "--store", store});
    EXPECT_EQ(r.status, exitcode::Ok) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("kalvor-batch: warning: %1 is read-only").arg(store))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("the export is not recorded in it"))) << r.err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), (QStringList{"cal.csv", "cal.csv.chain"}));
    EXPECT_EQ(QDir(archive).entryList(QDir::Files | QDir::Hidden), QStringList{"records.sqlite"});
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();

    ASSERT_EQ(::chmod(QFile::encodeName(store).constData(), 0600), 0);
    r = run({"verify", "--store", store});
    EXPECT_EQ(r.status, exitcode::StoreError);
    EXPECT_EQ(r.err.trimmed(), QStringLiteral("kalvor-batch: cannot read %1: permission denied (it belongs to root and has mode 0600)").arg(store));
}
