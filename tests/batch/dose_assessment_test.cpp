// Judging doses against a product's limits, and the dose map's summary, on
// values worked out by hand.
#include "batch/DoseAssessment.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace kalvor::batch;
using namespace kalvor::records;

TEST(DoseAssessment, DecisionsAtTheLimitsUnderBothRules)
{
    BatchTermsRecord t;
    t.limitLowKGy = 25;
    t.limitHighKGy = 40;
    t.decisionRule = kSimpleAcceptance;
    EXPECT_EQ(decide(t, 25.0, 3.0), QStringLiteral("pass")) << "the limits themselves pass";
    EXPECT_EQ(decide(t, 24.99, 0.1), QStringLiteral("below"));
    EXPECT_EQ(decide(t, 40.01, 0.1), QStringLiteral("above"));
    EXPECT_EQ(decide(t, std::nullopt, 0.0), QString()) << "no dose, no decision";
    t.decisionRule = kGuardBand;
    EXPECT_EQ(decide(t, 28.0, 3.0), QStringLiteral("pass"));
    EXPECT_EQ(decide(t, 27.0, 3.0), QStringLiteral("undecided"));
    EXPECT_EQ(decide(t, 21.9, 3.0), QStringLiteral("fail"));
    EXPECT_EQ(decide(t, 43.5, 3.0), QStringLiteral("fail"));
    EXPECT_EQ(decide(BatchTermsRecord{}, 30.0, 1.0), QString()) << "no limits, no decision";

    EXPECT_EQ(readWindowFlags(QStringLiteral("1h..7d"), QStringLiteral("2026-12-07T09:00:00.000Z"),
                              QStringLiteral("2026-12-07T09:30:00.000Z")),
              QStringList{QStringLiteral("outside read window")});
    EXPECT_TRUE(readWindowFlags(QStringLiteral("1h..7d"), QStringLiteral("2026-12-07T09:00:00.000Z"),
                                QStringLiteral("2026-12-08T09:30:00.000Z"))
                    .isEmpty());
    EXPECT_EQ(parseLimits(QStringLiteral(" 25..40 kGy")), std::make_pair(25.0, 40.0));
    EXPECT_FALSE(parseLimits(QStringLiteral("40..25")));
}

TEST(DoseAssessment, TheMapsExtremesAreOverThePositionedDosimeters)
{
    QList<ReadingRecord> readings;
    QHash<qint64, DoseRecord> doses;
    const auto add = [&](qint64 seq, const char* position, std::optional<double> dose, double uc) {
        ReadingRecord r;
        r.seq = seq;
        r.dosimeterId = QStringLiteral("D%1").arg(seq);
        r.position = QLatin1String(position);
        r.absorbance = 1.0;
        readings << r;
        if (!dose && uc == 0)
            return;
        DoseRecord d;
        d.seq = 100 + seq;
        d.reading = seq;
        d.doseKGy = dose;
        d.uc = uc;
        doses.insert(seq, d);
    };
    add(1, "top", 30.0, 0.6);
    add(2, "bottom", 40.0, 1.0);
    add(3, "centre", 35.0, 0.7);
    add(4, "", 10.0, 0.2);           // a film without a position: in the mean, not in the map
    add(5, "edge", std::nullopt, 0);  // no dose at all
    const DoseSummary s = summarise(readings, doses);
    EXPECT_EQ(s.doses, 4);
    EXPECT_EQ(s.withoutDose, 1);
    ASSERT_TRUE(s.min && s.max && s.dur && s.durU);
    EXPECT_EQ(s.min->position, QStringLiteral("top"));
    EXPECT_EQ(s.max->dosimeterId, QStringLiteral("D2"));
    EXPECT_DOUBLE_EQ(*s.dur, 40.0 / 30.0);
    EXPECT_NEAR(*s.durU, 2.0 * std::hypot(0.02, 0.025) * 40.0 / 30.0, 1e-12);
    EXPECT_DOUBLE_EQ(*s.mean, (30.0 + 40.0 + 35.0 + 10.0) / 4);
}
