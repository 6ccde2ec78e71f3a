// Calibration to dose as a lab does it, on the simulated reader (four times
// faster than life): unirradiated films give the lot's background, 5 dose
// levels × 3 films of a known response curve are read hands-free,
// calibrated and approved, and 10 films of unknown dose then each get a dose
// from kalvor-batch dose that lies within its expanded uncertainty of the
// truth. Films read before the approval get their doses once with dose
// --batch; a production batch of 20 positioned films with dose limits gets
// each dose, its decision and the dose map in its export, and in its PDF
// report, read back with pdftotext, which verify --report then accepts and
// a copy with one digit changed it rejects.
#include "batch/BatchProcessSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cmath>
#include <random>

using namespace kalvor;
using namespace kalvor::batchtest;

namespace {

constexpr double kA0 = 0.150;       // the lot's unirradiated films
constexpr double kThickness = 0.1;  // mm
// The lot's true response, mm⁻¹, to a dose in kGy.
double response(double kGy) { return 20.0 * (1.0 - std::exp(-0.02 * kGy)); }
double absorbance(double kGy) { return kA0 + kThickness * response(kGy); }

struct ToolRun {
    QByteArray out;
    QByteArray err;
    int status = -1;
};

ToolRun tool(const Sandbox& box, const QStringList& args)
{
    Child child(box, "kalvor-batch", args, QStringLiteral("tool"));
    ToolRun r;
    r.status = child.waitExit(30000).value_or(-1);
    r.out = child.standardOutput();
    r.err = child.standardError();
    return r;
}

// A batch read hands-free: each film slid in, confirmed, taken out.
void readBatch(const Sandbox& box, Hand& hand, const QString& store, const QString& name, const QString& prefix,
               const QList<double>& films, const QStringList& more = {})
{
    Child batch(box, "kalvor-batch", QStringList{"--batch", name, "--prefix", prefix, "--store", store} + more, name);
    ASSERT_TRUE(waitForOutput(batch, "connected to KALVOR", 10000)) << batch.standardError().toStdString();
    for (double a : films) {
        ASSERT_TRUE(hand.put("film", QByteArray::number(a, 'f', 4)));
        ASSERT_TRUE(hand.waitLed(true, 8000)) << name.toStdString() << ": film " << a << "\n"
                                              << batch.standardError().toStdString();
        ASSERT_TRUE(hand.put("dosimeter", "none"));
        ASSERT_TRUE(hand.waitLed(false, 3000));
    }
    EXPECT_EQ(batch.terminate(), std::optional<int>(0)) << batch.standardError().toStdString();
}

// The text of a PDF as pdftotext lays it out.
QString pdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Whether `shown` is `value` rounded to the digits it shows.
bool shownAs(const QString& shown, double value)
{
    const qsizetype point = shown.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : int(shown.size() - point - 1);
    return std::abs(shown.toDouble() - value) <= 0.5 * std::pow(10.0, -decimals) + 1e-9;
}

struct Mapped {
    double dose = 0, uc = 0;
    QString id, position;
};

} // namespace

TEST(CalibrationEndToEnd, ApprovedCalibrationGivesEachUnknownFilmItsDoseWithinU)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    const QString store = box.dir() + QStringLiteral("/records.sqlite");
    Child kalvor(box, "kalvor", {"--simulate=seed=21,speed=4"}, QStringLiteral("kalvor"));
    ASSERT_TRUE(faulttest::waitServing(kalvor, box.socketPath())) << kalvor.standardError().toStdString();
    Hand hand;
    ASSERT_TRUE(hand.open(box.socketPath()));

    // The lot: its thickness, and its background from three unirradiated films.
    readBatch(box, hand, store, QStringLiteral("bg"), QStringLiteral("B-"), {kA0, kA0, kA0});
    ToolRun r = tool(box, {"lot", "add", "L1", "--thickness", "0.1", "--thickness-u", "0.002", "--background-batch", "bg",
                       "--type", "radiochromic film", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    // Calibration films: 5 levels × 3.
    const QList<double> levels{5, 10, 20, 40, 60};
    QList<double> films;
    QByteArray doses = "id,dose_kGy\n";
    int n = 0;
    for (double d : levels)
        for (int i = 0; i < 3; ++i) {
            films << absorbance(d);
            doses += QStringLiteral("C-%1,%2\n").arg(++n, 3, 10, QLatin1Char('0')).arg(d).toUtf8();
        }
    readBatch(box, hand, store, QStringLiteral("cal"), QStringLiteral("C-"), films);
    const QString dosesFile = box.dir() + QStringLiteral("/doses.csv");
    Sandbox::writeFile(dosesFile, doses);

    r = tool(box, {"calibrate", "--lot", "L1", "--batch", "cal", "--doses", dosesFile, "--model", "exp", "--reference-u",
                   "1.5", "--json", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject fit = QJsonDocument::fromJson(r.out).object();
    const qint64 id = fit.value(QStringLiteral("calibration")).toInteger();
    ASSERT_GT(id, 0) << r.out.toStdString();
    EXPECT_EQ(fit.value(QStringLiteral("points")).toArray().size(), 15);
    EXPECT_NE(fit.value(QStringLiteral("lack_of_fit")), QJsonValue()) << "replicates give a lack-of-fit test";

    r = tool(box, {"dose", "--lot", "L1", "--absorbance", "1.0", "--socket", box.socketPath(), "--store", store});
    EXPECT_EQ(r.status, 1) << "a draft gives no dose";
    // Two films of the lot read before the approval.
    readBatch(box, hand, store, QStringLiteral("early"), QStringLiteral("P-"), {absorbance(30), absorbance(45)},
              {"--lot", "L1"});
    r = tool(box, {"approve", QString::number(id), "--reason", "calibration of lot L1", "--operator", "QA", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    // Ten films of unknown dose.
    std::mt19937 random(10);
    std::uniform_real_distribution<double> unknown(6.0, 58.0);
    QList<double> truth;
    for (int i = 0; i < 10; ++i)
        truth << unknown(random);
    QList<double> unknownFilms;
    for (double d : truth)
        unknownFilms << absorbance(d);
    readBatch(box, hand, store, QStringLiteral("unknown"), QStringLiteral("U-"), unknownFilms);
    const QList<QVariantList> read = query(store, {QStringLiteral("SELECT r.absorbance FROM readings r JOIN batches b ON "
                                                                  "r.batch = b.seq WHERE b.name = 'unknown' ORDER BY r.seq")});
    ASSERT_EQ(read.size(), 10);
    double worst = 0;
    for (int i = 0; i < 10; ++i) {
        r = tool(box, {"dose", "--lot", "L1", "--absorbance", read[i][0].toString(), "--json", "--socket", box.socketPath(),
                       "--store", store});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QJsonObject dose = QJsonDocument::fromJson(r.out).object().value(QStringLiteral("doses")).toArray().at(0).toObject();
        const double d = dose.value(QStringLiteral("dose")).toDouble();
        const double U = dose.value(QStringLiteral("U")).toDouble();
        EXPECT_EQ(QJsonDocument::fromJson(r.out).object().value(QStringLiteral("calibration")).toInteger(), id);
        EXPECT_LE(std::abs(d - truth[i]), U) << "film " << i + 1 << ": " << d << " ± " << U << " kGy, truly " << truth[i];
        EXPECT_GT(U, 0.0);
        worst = std::max(worst, std::abs(d - truth[i]) / U);
    }
    std::printf("[ doses    ] 10 films: the largest |dose - truth| is %.2f U\n", worst);

    // Read before the approval: their doses come once, with dose --batch.
    r = tool(box, {"dose", "--batch", "early", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 doses added")) << r.out.toStdString();
    r = tool(box, {"dose", "--batch", "early", "--store", store});
    EXPECT_TRUE(r.out.contains("0 doses added, 2 readings had their dose already")) << r.out.toStdString();

    // A production batch: 20 films with their positions, limits 20..45 kGy.
    QByteArray ids = "id,position\n";
    QList<double> prodTruth, prodFilms;
    std::uniform_real_distribution<double> mapped(15.0, 50.0);
    for (int i = 0; i < 20; ++i) {
        prodTruth << mapped(random);
        prodFilms << absorbance(prodTruth.last());
        ids += QStringLiteral("M-%1,%2-%3\n").arg(i + 1, 2, 10, QLatin1Char('0')).arg(i < 10 ? "top" : "bottom").arg(i % 10).toUtf8();
    }
    const QString idsFile = box.dir() + QStringLiteral("/map.csv");
    Sandbox::writeFile(idsFile, ids);
    readBatch(box, hand, store, QStringLiteral("prod"), QStringLiteral("M-"), prodFilms,
              {"--lot", "L1", "--ids", idsFile, "--limits", "20..45"});
    const QString csv = box.dir() + QStringLiteral("/prod.csv");
    r = tool(box, {"export", "--batch", "prod", "--csv", csv, "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QList<QByteArray> lines = Sandbox::readAll(csv).split('\n');
    const QList<QByteArray> header = lines.takeFirst().trimmed().split(',');
    const auto col = [&](const char* name) { return int(header.indexOf(QByteArray(name))); };
    int rows = 0;
    QList<Mapped> exported;
    for (const QByteArray& line : std::as_const(lines)) {
        if (line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> f = line.trimmed().split(',');
        const int i = f[col("dosimeter_id")].mid(2).toInt() - 1;
        ASSERT_TRUE(i >= 0 && i < 20) << line.toStdString();
        const double d = f[col("dose_kGy")].toDouble();
        const double U = f[col("U_kGy")].toDouble();
        EXPECT_LE(std::abs(d - prodTruth[i]), U) << line.toStdString();
        const char* decision = prodTruth[i] < 20 ? "below" : prodTruth[i] > 45 ? "above" : "pass";
        if (std::abs(prodTruth[i] - 20) > U && std::abs(prodTruth[i] - 45) > U)
            EXPECT_EQ(f[col("decision")], QByteArray(decision)) << line.toStdString();
        EXPECT_EQ(f[col("position")], QStringLiteral("%1-%2").arg(i < 10 ? "top" : "bottom").arg(i % 10).toUtf8());
        EXPECT_EQ(f[col("calibration")].toLongLong(), id);
        exported << Mapped{d, f[col("u_c_kGy")].toDouble(), QString::fromUtf8(f[col("dosimeter_id")]),
                           QString::fromUtf8(f[col("position")])};
        ++rows;
    }
    EXPECT_EQ(rows, 20);

    // Its report: every film's dose within U of the truth and its decision;
    // D_min, D_max and DUR as the exported values give them.
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString pdf = box.dir() + QStringLiteral("/prod.pdf");
    r = tool(box, {"report", "--batch", "prod", "--pdf", pdf, "--lab-name", "Irradiation Lab <QA>", "--store", store});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Irradiation Lab <QA>"))) << "a name shows as written";
    const QRegularExpression row(QStringLiteral("^\\s*M-(\\d\\d)\\s+(?:top|bottom)-\\d\\s+\\S+ \\S+\\s+\\d\\.\\d{3}\\s+"
                                                "(\\d+\\.\\d+)\\s+(\\d+\\.\\d+)\\s+(pass|below|above)\\s*$"),
                                 QRegularExpression::MultilineOption);
    int reported = 0;
    for (QRegularExpressionMatchIterator it = row.globalMatch(text); it.hasNext(); ++reported) {
        const QRegularExpressionMatch m = it.next();
        const int i = m.captured(1).toInt() - 1;
        ASSERT_TRUE(i >= 0 && i < 20) << m.captured(0).toStdString();
        const double d = m.captured(2).toDouble(), U = m.captured(3).toDouble();
        EXPECT_LE(std::abs(d - prodTruth[i]), U) << m.captured(0).toStdString() << ": truly " << prodTruth[i];
        if (std::abs(prodTruth[i] - 20) > U && std::abs(prodTruth[i] - 45) > U)
            EXPECT_EQ(m.captured(4), QLatin1String(prodTruth[i] < 20 ? "below" : prodTruth[i] > 45 ? "above" : "pass"))
                << m.captured(0).toStdString();
    }
    EXPECT_EQ(reported, 20) << text.toStdString();
    ASSERT_EQ(exported.size(), 20);
    const auto [low, high] = std::minmax_element(exported.begin(), exported.end(),
                                                 [](const Mapped& a, const Mapped& b) { return a.dose < b.dose; });
    const QRegularExpression extreme(QStringLiteral("([\\d.]+) ± ([\\d.]+) kGy, dosimeter (M-\\d\\d) at (\\S+)"));
    for (const auto& [label, e] : {std::pair{"Lowest dose", *low}, std::pair{"Highest dose", *high}}) {
        const qsizetype at = text.indexOf(QLatin1String(label));
        const QRegularExpressionMatch m = extreme.match(text, at);
        ASSERT_TRUE(at >= 0 && m.hasMatch()) << label;
        EXPECT_TRUE(shownAs(m.captured(1), e.dose)) << label << " " << m.captured(0).toStdString() << ", exported " << e.dose;
        EXPECT_TRUE(shownAs(m.captured(2), 2 * e.uc)) << label << " " << m.captured(0).toStdString();
        EXPECT_EQ(m.captured(3), e.id) << label;
        EXPECT_EQ(m.captured(4), e.position) << label;
    }
    const double dur = high->dose / low->dose;
    const double durU = 2 * dur * std::hypot(high->uc / high->dose, low->uc / low->dose);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("= ([\\d.]+) ± ([\\d.]+) \\(U, k = 2")).match(text);
    ASSERT_TRUE(m.hasMatch()) << text.toStdString();
    EXPECT_TRUE(shownAs(m.captured(1), dur)) << m.captured(0).toStdString() << ", exported " << dur;
    EXPECT_TRUE(shownAs(m.captured(2), durU)) << m.captured(0).toStdString() << ", exported " << durU;

    // verify --report: the file as issued, and a copy with one digit changed.
    r = tool(box, {"verify", "--report", pdf, "--store", store});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("still holds every row")) << r.out.toStdString();
    QByteArray bytes = Sandbox::readAll(pdf);
    const qsizetype digit = bytes.indexOf("/CreationDate (D:") + 17;
    ASSERT_GT(digit, 17);
    bytes[digit] = bytes[digit] == '9' ? '8' : char(bytes[digit] + 1);
    const QString copy = box.dir() + QStringLiteral("/prod-copy.pdf");
    Sandbox::writeFile(copy, bytes);
    r = tool(box, {"verify", "--report", copy, "--store", store});
    EXPECT_EQ(r.status, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("is not a report issued from this store")) << r.err.toStdString();

    Child verify(box, "kalvor-batch", {"verify", "--store", store}, QStringLiteral("verify"));
    EXPECT_EQ(verify.waitExit(30000), std::optional<int>(0)) << verify.standardError().toStdString();
}
