// The report as a reader of the PDF finds it (pdftotext, pdffonts): a batch
// of 500 dosimeters runs over pages, each with the table's header row and
// "page N of M", every dosimeter once, numbers with a decimal point under a
// German locale, fonts embedded; the file is recorded and verify accepts it.
// A batch without doses gives an absorbance report without dose columns.
#include "report/IssueReport.h"
#include "report/PdfReport.h"
#include "report/ReportTestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::records;

namespace {

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of each page, as pdftotext -layout lays it out.
QStringList pages(const QString& pdf)
{
    QStringList out = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
                          .split(QLatin1Char('\f'));
    if (!out.isEmpty() && out.last().trimmed().isEmpty())
        out.removeLast();
    return out;
}

} // namespace

TEST(ReportPdf, ManyDosimetersRunOverPagesEachWithTheHeaderRowAndItsNumber)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    QTemporaryDir dir;
    RecordStore store;
    QString why;
    ASSERT_EQ(store.open(dir.filePath(QStringLiteral("r.sqlite")), RecordStore::OpenMode::CreateIfMissing, &why),
              RecordStore::OpenError::None) << why.toStdString();
    ASSERT_TRUE(reporttest::addCalibratedLot(store, &why)) << why.toStdString();
    QList<double> doses;
    for (int i = 0; i < 500; ++i)
        doses << 15.0 + 35.0 * ((i * 37) % 500) / 500.0;
    ASSERT_TRUE(reporttest::addBatch(store, QStringLiteral("big"), QStringLiteral("L1"), doses, &why)) << why.toStdString();
    ASSERT_TRUE(reporttest::addBatch(store, QStringLiteral("plain"), QString(), {10, 30}, &why)) << why.toStdString();

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString pdf = dir.filePath(QStringLiteral("big.pdf"));
    const std::optional<report::WrittenReport> written =
        report::issueReport(store, QStringLiteral("big"), pdf, {QStringLiteral("Lab"), {}}, QStringLiteral("qa"), &why);
    QLocale::setDefault(QLocale::c());
    ASSERT_TRUE(written) << why.toStdString();

    const QStringList text = pages(pdf);
    ASSERT_EQ(text.size(), written->pages);
    ASSERT_GT(text.size(), 8);
    const QRegularExpression row(QStringLiteral("^\\s*(M-\\d{3})\\s+shelf \\d+, slot \\d+\\s+\\S+ \\S+\\s+(\\d\\.\\d{3})\\s+(\\d+\\.\\d+)\\s+(\\d+\\.\\d+)"),
                                 QRegularExpression::MultilineOption);
    QSet<QString> seen;
    int tablePages = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QString& page = text[i];
        EXPECT_TRUE(page.contains(QStringLiteral("page %1 of %2").arg(i + 1).arg(text.size()))) << "page " << i + 1;
        QRegularExpressionMatchIterator rows = row.globalMatch(page);
        if (!rows.hasNext())
            continue;
        ++tablePages;
        const qsizetype header = page.indexOf(QRegularExpression(QStringLiteral("Dosimeter\\s+Position\\s+Read \\(UTC\\)\\s+Absorbance\\s+Dose \\(kGy\\)\\s+U \\(kGy\\)\\s+Decision")));
        EXPECT_GE(header, 0) << "no header row on page " << i + 1;
        EXPECT_LT(header, rows.peekNext().capturedStart()) << "page " << i + 1;
        while (rows.hasNext()) {
            const QString id = rows.next().captured(1);
            EXPECT_FALSE(seen.contains(id)) << id.toStdString() << " twice";
            seen.insert(id);
        }
    }
    EXPECT_EQ(seen.size(), 500);
    EXPECT_GE(tablePages, 7);

    const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
    const QStringList fontLines = fonts.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(fontLines.isEmpty()) << fonts.toStdString();
    for (const QString& line : fontLines)
        EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral("\\s+yes\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\s*$"))))
            << "not embedded: " << line.toStdString();

    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(batch::checkReport(store, file.readAll()).ok());

    const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
    ASSERT_TRUE(report::issueReport(store, QStringLiteral("plain"), plain, {}, QStringLiteral("qa"), &why)) << why.toStdString();
    const QString absorbance = pages(plain).join(QLatin1Char('\f'));
    EXPECT_TRUE(absorbance.contains(QStringLiteral("Absorbance report")));
    EXPECT_TRUE(absorbance.contains(QStringLiteral("names no film lot")));
    EXPECT_TRUE(absorbance.contains(QString::number(reporttest::absorbance(30), 'f', 3))) << absorbance.toStdString();
    EXPECT_FALSE(absorbance.contains(QStringLiteral("Dose (kGy)")));
}

TEST(ReportPdf, LetterPaperWhereTheLocaleMeasuresInInchesOrIsOfTheUsOrCanada)
{
    EXPECT_EQ(report::pageSizeFor(QLocale(QLocale::English, QLocale::UnitedStates)).id(), QPageSize::Letter);
    EXPECT_EQ(report::pageSizeFor(QLocale(QLocale::French, QLocale::Canada)).id(), QPageSize::Letter);
    EXPECT_EQ(report::pageSizeFor(QLocale(QLocale::English, QLocale::UnitedKingdom)).id(), QPageSize::A4);
    EXPECT_EQ(report::pageSizeFor(QLocale(QLocale::German, QLocale::Germany)).id(), QPageSize::A4);
}
