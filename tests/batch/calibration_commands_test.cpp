// kalvor-batch lot, calibrate, approve and dose on a store of readings: what a
// lab types wrong gets a clear error and stores nothing, and a calibration
// gives doses only once approved, the newest approval superseding the older.
#include "batch/BatchTestSupport.h"

#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "records/Calibrations.h"
#include "records/ChainVerifier.h"

#include <QFile>
#include <cmath>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {

double response(double kGy) { return 10.0 * (1.0 - std::exp(-0.08 * kGy)); }

class CalibrationCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(t.open());
        QString why;
        BatchRecord b;
        b.name = QStringLiteral("cal");
        const qint64 batch = t.store.appendBatch(b, &why).value_or(0);
        int n = 0;
        for (double d : {0.0, 10.0, 25.0, 50.0})
            for (int i = 0; i < 3; ++i) {
                ReadingRecord r = sampleReading(batch, QStringLiteral("C%1").arg(++n), 0.2 + 0.1 * response(d) + 0.001 * (i - 1));
                ASSERT_TRUE(t.store.appendReading(r, sampleEvent(event::Capture, batch), &why)) << why.toStdString();
                doses += QStringLiteral("C%1,%2\n").arg(n).arg(d);
            }
        t.store.close();
    }

    int run(const QStringList& args)
    {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        const Subcommand* command = findSubcommand(args.first());
        return command->run(QStringList{QStringLiteral("kalvor-batch")} + args.mid(1) + QStringList{"--store", t.path}, o, e);
    }
    QString file(const QString& name, const QString& text)
    {
        const QString path = t.dir.path() + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return path;
    }
    int storedCalibrations()
    {
        RecordStore s;
        QString why;
        s.open(t.path, RecordStore::OpenMode::ExistingOnly, &why);
        return int(calibrations(s).size());
    }

    TempStore t;
    QString doses = QStringLiteral("id,dose_kGy\n");
    QString out, err;
};

} // namespace

TEST_F(CalibrationCommands, BadInputIsNamedAndStoresNothing)
{
    ASSERT_EQ(run({"lot", "add", "L9", "--thickness", "0.1", "--background", "0.2", "--wavelength", "510"}), 0)
        << err.toStdString();
    const QString good = file(QStringLiteral("doses.csv"), doses);
    for (const auto& [text, says] : QList<std::pair<QString, QString>>{
             {QStringLiteral("id,dose_kGy\nC1,ten\n"), QStringLiteral("line 2: the dose of C1, \"ten\", is not a number")},
             {QStringLiteral("id,dose_kGy\nC1,1\nC2,2\nC1,3\n"), QStringLiteral("line 4: C1 is listed twice (first on line 2)")},
             {QStringLiteral("id,dose_Gy\nC1,-5\n"), QStringLiteral("line 2: the dose of C1 is negative")},
             {QStringLiteral("dosimeter,gray\nC1,5\n"), QStringLiteral("must name an id column and dose_kGy or dose_Gy")}}) {
        EXPECT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses", file(QStringLiteral("bad.csv"), text),
                       "--model", "exp"}),
                  exitcode::Failed);
        EXPECT_TRUE(err.contains(says)) << err.toStdString();
    }
    EXPECT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses", good, "--model", "poly7"}), exitcode::Usage);
    EXPECT_TRUE(err.contains(QStringLiteral("no model \"poly7\""))) << err.toStdString();
    EXPECT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses",
                   file(QStringLiteral("few.csv"), QStringLiteral("id,dose_kGy\nC1,0\nC4,10\nC7,25\n")), "--model", "exp"}),
              exitcode::Failed);
    EXPECT_TRUE(err.contains(QStringLiteral("refused"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("films of cal without a dose"))) << "the films left out are named";
    EXPECT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses", good, "--model", "poly2"}), exitcode::Failed)
        << "a curve that turns back within the range";
    EXPECT_TRUE(err.contains(QStringLiteral("monotonic"))) << err.toStdString();
    EXPECT_EQ(storedCalibrations(), 0);
}

TEST_F(CalibrationCommands, OnlyTheLatestApprovedCalibrationGivesDoses)
{
    ASSERT_EQ(run({"lot", "add", "L9", "--thickness", "0.1", "--thickness-u", "0.001", "--background", "0.2", "--wavelength",
                   "510 nm"}),
              0);
    const QString good = file(QStringLiteral("doses.csv"), doses);
    ASSERT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses", good, "--model", "exp", "--reference-u", "2"}), 0)
        << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("calibration"))) << out.toStdString();
    ASSERT_EQ(run({"calibrate", "--lot", "L9", "--batch", "cal", "--doses", good, "--model", "poly3"}), 0) << err.toStdString();
    const QList<QString> dose{"dose", "--lot", "L9", "--absorbance", "0.6", "--serial", "1500", "--wavelength", "510"};
    EXPECT_EQ(run(dose), exitcode::Failed);
    EXPECT_TRUE(err.contains(QStringLiteral("no approved calibration"))) << err.toStdString();

    RecordStore s;
    QString why;
    s.open(t.path, RecordStore::OpenMode::ExistingOnly, &why);
    const QList<CalibrationRecord> drafts = calibrations(s);
    s.close();
    ASSERT_EQ(drafts.size(), 2);
    EXPECT_EQ(run({"approve", QString::number(drafts[0].seq)}), exitcode::Usage) << "an approval needs a reason";
    ASSERT_EQ(run({"approve", QString::number(drafts[0].seq), "--reason", "first"}), 0) << err.toStdString();
    ASSERT_EQ(run(dose), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("calibration %1 of lot L9 (exp)").arg(drafts[0].seq))) << out.toStdString();
    // 0.6 = 0.2 + 0.1·k: k = 4, D = -ln(0.6)/0.08 = 6.385 kGy.
    EXPECT_TRUE(out.contains(QStringLiteral("Dose 6.3"))) << out.toStdString();
    ASSERT_EQ(run({"approve", QString::number(drafts[1].seq), "--reason", "cubic is better"}), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("supersedes calibration %1").arg(drafts[0].seq))) << out.toStdString();
    ASSERT_EQ(run(dose), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("(poly3)"))) << out.toStdString();
    EXPECT_EQ(run({"approve", QString::number(drafts[1].seq), "--reason", "again"}), exitcode::Failed);

    s.open(t.path, RecordStore::OpenMode::ExistingOnly, &why);
    EXPECT_TRUE(verifyChain(s).ok()) << "lots, calibrations and approvals are in the chain";
}
