// Quality control: the I-MR limits and run rules against a series worked out
// by hand, the zero's trend against exact lines, 30 daily filter checks whose
// filters drift from the 25th on, the reference in force on a check's day,
// and the verification of a calibration against reference doses.
#include "batch/BatchTestSupport.h"

#include "batch/CalibrationVerification.h"
#include "batch/QualityControl.h"
#include "calib/CalibrationJson.h"
#include "calib/Fit.h"
#include "records/Csv.h"

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {

// The first check of the series: 08:00 local time, a day apart.
QDateTime day(int n) { return QDateTime(QDate(2026, 10, 1).addDays(n), QTime(8, 0)); }

FilterCheckRecord check(const QString& filter, double value, const QDateTime& at, const QString& serial = QStringLiteral("1500"))
{
    FilterCheckRecord c;
    c.timeUtc = at.toUTC().toString(Qt::ISODateWithMs);
    c.item = filter == QLatin1String("light") ? QStringLiteral("na") : filter == QLatin1String("medium") ? QStringLiteral("nb") : QStringLiteral("nc");
    c.filter = filter;
    c.shown = QString::number(value, 'f', 3);
    c.value = c.shown.toDouble();
    c.wavelength = QStringLiteral("510 nm");
    c.readerModel = QStringLiteral("KALVOR");
    c.readerSerial = serial;
    c.readerGain = QStringLiteral("1.9");
    c.operatorName = QStringLiteral("ann");
    return c;
}

ReferenceSet referenceSet(double light, double medium, double dark, const QDate& date, const QString& certificate)
{
    ReferenceSet s;
    s.readerSerial = QStringLiteral("1500");
    s.wavelength = QStringLiteral("510");
    s.light = light;
    s.medium = medium;
    s.dark = dark;
    s.expandedU = 0.004;
    s.tolerance = defaultTolerance(s.expandedU);
    s.certificate = certificate;
    s.certificateDate = date;
    return s;
}

} // namespace

TEST(ControlChart, LimitsAndRunRulesOfASeriesWorkedOutByHand)
{
    // Baseline: four values with every moving range 1.128, so x̄ = 0 and σ̂ = 1;
    // the MR limit is 3.267 · 1.128 = 3.685176.
    const std::vector<double> x{-0.564, 0.564, -0.564, 0.564, 3.5, -0.5, 2.5, 0.5, 1.5, 1.2, 0.2, 1.1, 1.3, 0.3};
    std::vector<bool> baseline(x.size(), false);
    std::fill_n(baseline.begin(), 4, true);
    const ImrChart chart = imrChart(x, baseline);
    ASSERT_TRUE(chart.limits);
    EXPECT_EQ(chart.limits->baselinePoints, 4);
    EXPECT_NEAR(chart.limits->centre, 0.0, 1e-12);
    EXPECT_NEAR(chart.limits->meanMovingRange, 1.128, 1e-12);
    EXPECT_NEAR(chart.limits->sigma, 1.0, 1e-12);
    EXPECT_NEAR(chart.limits->upper(), 3.0, 1e-12);
    EXPECT_NEAR(chart.limits->movingRangeUpper(), 3.685176, 1e-9);
    // 3.5 is beyond 3σ (rule 1); 3.5, −0.5, 2.5 has two of three beyond 2σ
    // (rule 2); 1.5, 1.2, 0.2, 1.1, 1.3 four of five beyond 1σ (rule 3); from
    // 2.5 on eight above the centre (rule 4). −0.5 follows 3.5 by 4.0, above
    // the MR limit.
    const std::map<size_t, QList<int>> expected{{4, {1}}, {6, {2}}, {12, {3}}, {13, {4}}};
    for (size_t i = 0; i < x.size(); ++i) {
        const auto it = expected.find(i);
        EXPECT_EQ(chart.points[i].rules, it == expected.end() ? QList<int>{} : it->second) << "point " << i;
        EXPECT_EQ(chart.points[i].movingRangeBeyond, i == 5) << "point " << i;
    }
    EXPECT_EQ(rulesCell({2, 3}), QStringLiteral("2+3"));

    // The default baseline is the first 20 values; values all alike set no limits.
    const ImrChart flat = imrChart(std::vector<double>(25, 0.002));
    EXPECT_FALSE(flat.limits);
    EXPECT_FALSE(flat.whyNoLimits.isEmpty());
    std::vector<double> late(30, 0.0);
    for (size_t i = 0; i < late.size(); ++i)
        late[i] = i % 2 ? 0.001 : -0.001;
    late[25] = 1.0;  // after the baseline: no say in the limits
    EXPECT_EQ(imrChart(late).limits->baselinePoints, 20);
    EXPECT_NEAR(imrChart(late).limits->meanMovingRange, 0.002, 1e-15);
}

TEST(ZeroTrend, SlopeAndItsStandardErrorAgainstExactLines)
{
    // Three points with a known scatter: slope 0, SE √(1/3).
    const std::vector<double> x{0, 1, 2}, y{0, 1, 0};
    const calib::LineFit f = calib::fitLine(x, y);
    ASSERT_TRUE(f.ok);
    EXPECT_NEAR(f.slope, 0.0, 1e-15);
    EXPECT_NEAR(f.intercept, 1.0 / 3, 1e-15);
    EXPECT_NEAR(f.slopeSe, std::sqrt(1.0 / 3), 1e-12);
    EXPECT_FALSE(calib::fitLine(std::vector<double>{1, 1}, std::vector<double>{0, 1}).ok);

    // A zero falling 0.4 mV a day exactly: −0.012 V per 30 days; each zero
    // counts once however many readings carry it.
    QList<ReadingRecord> readings;
    for (int d : {0, 3, 7, 10, 15}) {
        for (int film = 0; film < 2; ++film) {
            ReadingRecord r = sampleReading(1, QStringLiteral("F-%1-%2").arg(d).arg(film), 0.5);
            r.zeroUtc = day(d).toUTC().toString(Qt::ISODateWithMs);
            r.timeUtc = day(d).addSecs(600 * (film + 1)).toUTC().toString(Qt::ISODateWithMs);
            r.zero = QString::number(1.25 - 0.0004 * d, 'f', 4);
            readings << r;
        }
    }
    const QList<ZeroTrend> trends = zeroTrends(readings);
    ASSERT_EQ(trends.size(), 1);
    EXPECT_EQ(trends[0].points.size(), 5);
    EXPECT_NEAR(trends[0].slopePer30Days, -0.012, 1e-12);
    EXPECT_NEAR(trends[0].slopeSePer30Days, 0.0, 1e-9);
    EXPECT_NEAR(trends[0].percentPer30Days, -0.012 / (1.25 - 0.0004 * 7) * 100, 1e-9);
    EXPECT_TRUE(trends[0].falling());
}

TEST(ReferenceFilters, TheCertificateInForceOnTheDayOfTheCheck)
{
    const ReferenceSet first = referenceSet(0.300, 0.800, 1.500, QDate(2026, 1, 10), QStringLiteral("C-1"));
    ReferenceSet typo = referenceSet(0.310, 0.810, 1.510, QDate(2026, 6, 1), QStringLiteral("C-2"));
    const ReferenceSet corrected = referenceSet(0.302, 0.801, 1.498, QDate(2026, 6, 1), QStringLiteral("C-2"));
    const QList<ReferenceSet> all{first, typo, corrected};
    EXPECT_EQ(referenceFor(all, QStringLiteral("1500"), QStringLiteral("510 nm"), QDate(2025, 12, 1))->certificate,
              QStringLiteral("C-1"));
    EXPECT_EQ(referenceFor(all, QStringLiteral("1500"), QStringLiteral("510 nm"), QDate(2026, 5, 31))->light, 0.300);
    EXPECT_EQ(referenceFor(all, QStringLiteral("1500"), QStringLiteral("510 nm"), QDate(2026, 6, 1))->light, 0.302);
    EXPECT_FALSE(referenceFor(all, QStringLiteral("1501"), QStringLiteral("510 nm"), QDate(2026, 6, 1)));
    EXPECT_EQ(defaultTolerance(std::nullopt), 0.010);
    EXPECT_EQ(defaultTolerance(0.015), 0.015);
    typo.light = -1;
    EXPECT_FALSE(referenceSetProblem(typo).isEmpty());
}

TEST(FilterChecks, ADriftFromThe25thCheckIsFlaggedBeforeAnyCheckLeavesTheTolerance)
{
    TempStore store;
    ASSERT_TRUE(store.open());
    QString why;
    ASSERT_TRUE(recordReferenceSet(store.store, referenceSet(0.300, 0.800, 1.500, QDate(2026, 9, 1), QStringLiteral("C-1")),
                                   QStringLiteral("ann"), &why))
        << why.toStdString();
    // The simulated reader's filters (0.3, 0.8, 1.5) read with a scatter of
    // about a count of the last digit; from the 25th check on the filters
    // darken by 0.0015 a day.
    const double scatter[] = {0.000, 0.001, -0.001, 0.002, -0.001, 0.000, -0.002, 0.001, 0.000, -0.001, 0.001};
    const QList<std::pair<QString, double>> filters{{QStringLiteral("light"), 0.3}, {QStringLiteral("medium"), 0.8},
                                                    {QStringLiteral("dark"), 1.5}};
    for (int n = 1; n <= 30; ++n)
        for (int f = 0; f < 3; ++f) {
            const double drift = n >= 25 ? 0.0015 * (n - 24) : 0.0;
            ASSERT_TRUE(store.store.appendFilterCheck(
                check(filters[f].first, filters[f].second + scatter[(n + 3 * f) % 11] + drift, day(n).addSecs(60 * f)), &why));
        }
    const QcData qc = readQc(store.store, {});
    ASSERT_EQ(qc.series.size(), 3);
    EXPECT_EQ(qc.results.size(), 90);
    for (const FilterSeries& s : qc.series) {
        ASSERT_EQ(s.checks.size(), 30) << s.title().toStdString();
        int firstRule = 0, firstOutside = 0;
        for (int n = 1; n <= 30; ++n) {
            const JudgedCheck& j = s.checks[n - 1];
            if (!firstRule && !j.rules.isEmpty())
                firstRule = n;
            if (!firstOutside && !*j.within)
                firstOutside = n;
        }
        EXPECT_GE(firstRule, 25) << s.title().toStdString() << ": a run rule fired before the drift";
        EXPECT_LE(firstRule, 28) << s.title().toStdString() << ": the drift was not flagged";
        EXPECT_TRUE(firstOutside == 0 || firstOutside > firstRule) << s.title().toStdString();
    }

    // The CSV: one row per result, the rules named where they fire.
    QList<QStringList> rows;
    ASSERT_TRUE(csv::parse(QString::fromUtf8(qcCsv(qc)), &rows, &why));
    ASSERT_EQ(rows.size(), 91);
    EXPECT_EQ(rows[0], (QStringList{QStringLiteral("time_utc"), QStringLiteral("reader_serial"), QStringLiteral("wavelength"),
                                    QStringLiteral("filter"), QStringLiteral("measured"), QStringLiteral("reference"),
                                    QStringLiteral("deviation"), QStringLiteral("within_tolerance"), QStringLiteral("rules")}));
    EXPECT_EQ(rows[1].mid(1, 7), (QStringList{QStringLiteral("1500"), QStringLiteral("510 nm"), QStringLiteral("light"),
                                              QStringLiteral("0.301"), QStringLiteral("0.3"), QStringLiteral("0.001"),
                                              QStringLiteral("1")}));
    int flagged = 0;
    for (const QStringList& row : rows.mid(1))
        flagged += row[8].isEmpty() ? 0 : 1;
    EXPECT_GT(flagged, 0);
    const QDateTime from = day(29).date().startOfDay();
    EXPECT_EQ(readQc(store.store, {from, {}, {}, {}}).results.size(), 6) << "--from keeps the last two days";
}

TEST(Verification, ACalibrationWithin2PercentPassesOneWithA10PercentBiasFailsBothRecorded)
{
    TempStore store;
    ASSERT_TRUE(store.open());
    QString why;
    // Lot L1: A0 0.100 at 510 nm, 0.1 mm; its approved calibration R = 0.5·D.
    LotRecord lot;
    lot.name = QStringLiteral("L1");
    lot.thicknessMm = 0.1;
    lot.backgrounds = {LotBackground{QStringLiteral("510 nm"), 0.1, std::nullopt, 0, {}}};
    const std::optional<qint64> lotSeq = appendLot(store.store, lot, &why);
    ASSERT_TRUE(lotSeq) << why.toStdString();
    std::vector<calib::Point> points;
    for (int d = 1; d <= 10; ++d)
        points.push_back({double(d), 0.5 * d + (d % 2 ? 0.001 : -0.001)});
    const calib::FitResult fit = calib::fitCalibration(*calib::Model::parse(QStringLiteral("poly1"), true), points);
    ASSERT_TRUE(fit.ok()) << fit.refusal.toStdString();
    CalibrationRecord c;
    c.lot = QStringLiteral("L1");
    c.lotRow = *lotSeq;
    c.readerSerial = QStringLiteral("1500");
    c.wavelength = QStringLiteral("510 nm");
    c.model = QStringLiteral("poly1");
    c.throughZero = true;
    c.rangeMin = 1;
    c.rangeMax = 10;
    c.fit = calib::calibrationToJson(*fit.calibration);
    const std::optional<qint64> calSeq = appendCalibration(store.store, c, &why);
    ASSERT_TRUE(calSeq) << why.toStdString();
    ApprovalRecord a;
    a.calibration = *calSeq;
    a.approverLogin = QStringLiteral("qa");
    ASSERT_TRUE(appendApproval(store.store, a, &why));

    const QString doses = QStringLiteral("id,dose_Gy\nV-1,2000\nV-2,5000\nV-3,8000\n");
    const std::optional<QList<ReferenceDose>> list = parseReferenceDoses(doses, QStringLiteral("doses.csv"), &why);
    ASSERT_TRUE(list) << why.toStdString();
    EXPECT_EQ(list->at(1).doseKGy, 5.0);
    // Films read at the absorbance of their dose times a factor: A = A0 + t·0.5·D.
    auto readBatch = [&](const QString& name, const QList<double>& factors) {
        BatchRecord b;
        b.name = name;
        b.lot = QStringLiteral("L1");
        const qint64 seq = *store.store.appendBatch(b, &why);
        const double reference[] = {2, 5, 8};
        for (int i = 0; i < 3; ++i)
            store.store.appendReading(sampleReading(seq, QStringLiteral("V-%1").arg(i + 1), 0.1 + 0.1 * 0.5 * reference[i] * factors[i]),
                                      sampleEvent(event::Capture, seq), &why);
    };
    readBatch(QStringLiteral("ver-good"), {1.01, 0.985, 1.02});
    readBatch(QStringLiteral("ver-biased"), {1.10, 1.09, 1.11});
    for (const auto& [name, passes] : {std::pair{QStringLiteral("ver-good"), true}, std::pair{QStringLiteral("ver-biased"), false}}) {
        std::optional<Verification> v = verifyCalibration(store.store, QStringLiteral("L1"), name, *list, 5.0, &why);
        ASSERT_TRUE(v) << why.toStdString();
        EXPECT_EQ(v->record.passed, passes) << name.toStdString() << ": mean " << v->record.meanRatio;
        EXPECT_EQ(v->record.films, 3);
        EXPECT_EQ(v->record.calibration, *calSeq);
        ASSERT_TRUE(appendVerification(store.store, v->record, &why)) << why.toStdString();
    }
    const QList<VerificationRecord> stored = verifications(store.store, QStringLiteral("L1"));
    ASSERT_EQ(stored.size(), 2);
    EXPECT_NEAR(stored[0].meanRatio, (1.01 + 0.985 + 1.02) / 3, 2e-3);
    EXPECT_NEAR(stored[1].meanRatio, 1.10, 2e-3);
    EXPECT_GT(stored[1].sdRatio, 0.005);
    EXPECT_EQ(filmsOfDetail(stored[1].detail).size(), 3);
    EXPECT_EQ(readQc(store.store, {}).verifications.size(), 2);

    // Faults named with their line; a film not in the batch is named too.
    for (const auto& [text, fault] :
         {std::pair{"id,dose\nV-1,2\n", "line 1: the header row has no column dose_kGy"},
          std::pair{"id,dose_kGy\nV-1,2\n\nV-2,-1\n", "line 4: dose -1 is not a positive"},
          std::pair{"id,dose_kGy\nV-1,2\nV-1,3\n", "line 3: V-1 is listed on line 2 already"}}) {
        EXPECT_FALSE(parseReferenceDoses(QString::fromLatin1(text), QStringLiteral("d.csv"), &why));
        EXPECT_TRUE(why.contains(QLatin1String(fault))) << why.toStdString();
    }
    const QList<ReferenceDose> unknown{{QStringLiteral("V-9"), 2.0, 2}};
    EXPECT_FALSE(verifyCalibration(store.store, QStringLiteral("L1"), QStringLiteral("ver-good"), unknown, 5.0, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("line 2: film V-9 has no reading"))) << why.toStdString();
}
