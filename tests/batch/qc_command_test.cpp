// kalvor-batch's quality control commands as processes: a lamp dimming on the
// simulated reader shows as a falling zero trend, and qc writes it with the
// filter results as CSV and as a PDF of real text with embedded fonts, with
// no display at all; reference add records a certificate.
#include "batch/BatchProcessSupport.h"
#include "batch/BatchTestSupport.h"

#include "records/Csv.h"

#include <QStandardPaths>

using namespace kalvor;
using namespace kalvor::batchtest;
using namespace kalvor::records;

namespace {

// A program run to its end: exit status and standard output.
std::pair<int, QString> run(const QString& program, const QStringList& args, const QStringList& env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MEASUREMENT", "LANG"})
        e.remove(QLatin1String(name));
    for (const QString& pair : env)
        e.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {-1, QString()};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

// The zero in volts the simulated reader takes with its lamp at `lamp`.
std::optional<double> zeroWithLamp(faulttest::LineClient& link, const char* lamp)
{
    const std::optional<QByteArray> before = link.ask("GET reader zeroTime", "VALUE");
    if (!before || link.ask(QByteArray("PUT simulator lamp \"") + lamp + '"', "OK") != QByteArray("OK PUT simulator lamp")
        || link.ask("PUT reader zero \"1\"", "OK PUT") != QByteArray("OK PUT reader zero"))
        return std::nullopt;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 8000) {
        QThread::msleep(100);
        const std::optional<QByteArray> now = link.ask("GET reader zeroTime", "VALUE");
        if (now && *now != *before) {
            const std::optional<faulttest::ItemLine> zero = faulttest::ItemLine::parse(link.ask("GET reader zero", "VALUE").value_or(""));
            return zero ? std::optional<double>(zero->text().toDouble()) : std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

TEST(QcCommand, ALampDimmingOnTheSimulatedReaderShowsAsAFallingZeroInTheCsvAndPdf)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    const QString store = box.dir() + QStringLiteral("/records.sqlite");

    // The lamp a little dimmer each week: the zero of each week's readings.
    QList<double> zeros;
    {
        Child kalvor(box, "kalvor", {"--simulate=seed=3,speed=4"}, QStringLiteral("kalvor"));
        ASSERT_TRUE(faulttest::waitServing(kalvor, box.socketPath())) << kalvor.standardError().toStdString();
        faulttest::LineClient link;
        ASSERT_TRUE(link.open(box.socketPath()));
        ASSERT_TRUE(faulttest::subscribeAndWaitReading(link)) << "the reader took no reading";
        ASSERT_EQ(link.ask("UNSUB data A", "OK UNSUB"), QByteArray("OK UNSUB data A"));
        for (const char* lamp : {"1.0", "0.99", "0.98", "0.97", "0.96"}) {
            const std::optional<double> volts = zeroWithLamp(link, lamp);
            ASSERT_TRUE(volts) << "no zero with the lamp at " << lamp << ": " << kalvor.standardError().toStdString();
            zeros << *volts;
        }
    }
    ASSERT_LT(zeros.constLast(), zeros.constFirst() * 0.98);
    const auto [added, addedText] = run(faulttest::binary("kalvor-batch"),
                                        {"reference", "add", "--store", store, "--serial", "1500", "--wavelength", "510",
                                         "--light", "0.300", "--medium", "0.800", "--dark", "1.500", "--u", "0.012",
                                         "--certificate", "NDF-7", "--date", "2026-01-05"});
    ASSERT_EQ(added, 0) << addedText.toStdString();
    EXPECT_TRUE(addedText.contains(QStringLiteral("tolerance ±0.012"))) << "U above 0.010 is the tolerance";
    {
        RecordStore s;
        QString why;
        ASSERT_EQ(s.open(store, RecordStore::OpenMode::ExistingOnly, &why), RecordStore::OpenError::None) << why.toStdString();
        BatchRecord b;
        b.name = QStringLiteral("weekly");
        const qint64 batch = *s.appendBatch(b, &why);
        const QDateTime monday(QDate(2026, 11, 2), QTime(9, 0));
        for (int week = 0; week < zeros.size(); ++week) {
            ReadingRecord r = sampleReading(batch, QStringLiteral("W-%1").arg(week), 0.5);
            r.zero = QString::number(zeros[week], 'f', 4);
            r.zeroUtc = monday.addDays(7 * week).toUTC().toString(Qt::ISODateWithMs);
            r.timeUtc = monday.addDays(7 * week).addSecs(300).toUTC().toString(Qt::ISODateWithMs);
            ASSERT_TRUE(s.appendReading(r, sampleEvent(event::Capture, batch), &why)) << why.toStdString();
        }
        FilterCheckRecord c;
        c.timeUtc = monday.toUTC().toString(Qt::ISODateWithMs);
        c.item = QStringLiteral("nc");
        c.filter = QStringLiteral("dark");
        c.shown = QStringLiteral("1.520");
        c.value = 1.52;
        c.wavelength = QStringLiteral("510 nm");
        c.readerSerial = QStringLiteral("1500");
        ASSERT_TRUE(s.appendFilterCheck(c, &why));
    }

    const QString csvPath = box.dir() + QStringLiteral("/qc.csv");
    const QString pdfPath = box.dir() + QStringLiteral("/qc.pdf");
    const auto [status, text] = run(faulttest::binary("kalvor-batch"),
                                    {"qc", "--store", store, "--csv", csvPath, "--pdf", pdfPath});
    ASSERT_EQ(status, 0) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("the zero falls"))) << text.toStdString();
    QList<QStringList> rows;
    QString why;
    ASSERT_TRUE(csv::parse(QString::fromUtf8(Sandbox::readAll(csvPath)), &rows, &why));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].mid(3), (QStringList{QStringLiteral("dark"), QStringLiteral("1.52"), QStringLiteral("1.5"),
                                           QStringLiteral("0.02"), QStringLiteral("0"), QString()}));

    const QString pdfText = run(QStringLiteral("pdftotext"), {pdfPath, QStringLiteral("-")}).second.simplified();
    for (const char* expected : {"KALVOR quality control", "Reference filters", "NDF-7", "Zero of the reader",
                                 "the zero falls", "1.520", "Filter check results"})
        EXPECT_TRUE(pdfText.contains(QLatin1String(expected))) << expected << " is not in the PDF's text";
    const QStringList fonts = run(QStringLiteral("pdffonts"), {pdfPath}).second.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(fonts.isEmpty());
    for (const QString& font : fonts)
        EXPECT_EQ(font.simplified().section(QLatin1Char(' '), -5, -5), QStringLiteral("yes")) << "not embedded: " << font.toStdString();
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {pdfPath}).second.contains(QStringLiteral("(A4)")));
    ASSERT_EQ(run(faulttest::binary("kalvor-batch"), {"qc", "--store", store, "--pdf", pdfPath}, {"LC_ALL=en_US.UTF-8"}).first, 0);
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {pdfPath}).second.contains(QStringLiteral("(letter)"))) << "a US locale prints on Letter";
}
