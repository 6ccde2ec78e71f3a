#include "hw/sim/HeadPhysics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace kalvor::sim;

namespace {
HeadPhysics quiet()
{
    HeadPhysics p;
    p.setNoiseSigma(0.0);
    return p;
}
} // namespace

TEST(SimHeadPhysics, FreshLampZeroIsWellAboveTheLampCaution)
{
    HeadPhysics p = quiet();
    EXPECT_NEAR(p.idealVoltage(), 1.9 * 1.2, 1e-12);
    EXPECT_GT(p.idealVoltage() / p.gain(), 0.4);
    p.setWavelength(Wavelength::Secondary);
    EXPECT_NEAR(p.idealVoltage(), 1.9 * 1.0, 1e-12);
    EXPECT_GT(p.idealVoltage() / p.gain(), 0.4);
}

TEST(SimHeadPhysics, AbsorbanceInThePathLowersTheInputByGainTimesAbsorbance)
{
    HeadPhysics p = quiet();
    const double empty = p.idealVoltage();
    p.setDosimeter(0.5);
    EXPECT_NEAR(empty - p.idealVoltage(), 1.9 * 0.5, 1e-12);
    EXPECT_TRUE(p.dosimeterSensed());

    // The filter holder ignores the dosimeter and shows its filter instead.
    p.setHolder(Holder::Filter);
    EXPECT_FALSE(p.dosimeterSensed());
    EXPECT_NEAR(p.idealVoltage(), empty, 1e-12);
    double previous = empty;
    for (NdFilter f : {NdFilter::Light, NdFilter::Medium, NdFilter::Dark}) {
        p.setFilter(f);
        EXPECT_NEAR(empty - p.idealVoltage(), 1.9 * p.filterAbsorbance(f), 1e-12);
        EXPECT_LT(p.idealVoltage(), previous);
        previous = p.idealVoltage();
    }
    EXPECT_NEAR(p.filterAbsorbance(NdFilter::Medium), 0.8, 1e-12);
}

TEST(SimHeadPhysics, LampFractionScalesTheLampLevelOnly)
{
    HeadPhysics p = quiet();
    p.setDosimeter(0.2);
    p.setLampFraction(0.5);
    EXPECT_NEAR(p.idealVoltage(), 1.9 * (1.2 * 0.5 - 0.2), 1e-12);
    p.setGain(1.0);
    EXPECT_NEAR(p.idealVoltage(), 0.4, 1e-12);
}

TEST(SimHeadPhysics, InputIsClippedToTheRails)
{
    HeadPhysics p = quiet();
    p.setLampLevel(Wavelength::Primary, 4.0);
    EXPECT_DOUBLE_EQ(p.idealVoltage(), 5.0);
    EXPECT_EQ(p.sampleCount(), 4095);
    p.setDosimeter(9.0);
    EXPECT_DOUBLE_EQ(p.idealVoltage(), -5.0);
    EXPECT_EQ(p.sampleCount(), 0);
}

TEST(SimHeadPhysics, CountFormulaAndClamping)
{
    EXPECT_EQ(HeadPhysics::countForVoltage(1.0), 2457);
    EXPECT_EQ(HeadPhysics::countForVoltage(0.0), 2048); // 2047.5 rounds up
    EXPECT_EQ(HeadPhysics::countForVoltage(-5.0), 0);
    EXPECT_EQ(HeadPhysics::countForVoltage(5.0), 4095);
    EXPECT_EQ(HeadPhysics::countForVoltage(7.0), 4095);
    EXPECT_EQ(HeadPhysics::countForVoltage(-7.0), 0);
}

TEST(SimHeadPhysics, SeededNoiseIsRepeatableAndHasTheGivenSpread)
{
    HeadPhysics a(42), b(42), c(43);
    std::vector<double> va, vb, vc;
    for (int i = 0; i < 5000; ++i) {
        va.push_back(a.sampleVoltage());
        vb.push_back(b.sampleVoltage());
        vc.push_back(c.sampleVoltage());
    }
    EXPECT_EQ(va, vb);
    EXPECT_NE(va, vc);

    double sum = 0, sq = 0;
    for (double v : va) {
        sum += v;
        sq += v * v;
    }
    const double mean = sum / va.size();
    const double sd = std::sqrt(sq / va.size() - mean * mean);
    EXPECT_NEAR(mean, a.idealVoltage(), 0.0002);
    EXPECT_NEAR(sd, HeadPhysics::kDefaultNoise, 0.0002);

    // Re-seeding starts the same sequence again.
    a.seed(42);
    EXPECT_DOUBLE_EQ(a.sampleVoltage(), va[0]);
}

TEST(SimHeadPhysics, DarkLampRestsAtZeroVoltsWithoutNoise)
{
    HeadPhysics p; // default noise
    p.setDosimeter(0.8);
    p.setLampFraction(0.0);
    EXPECT_EQ(p.idealVoltage(), 0.0);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(p.sampleVoltage(), 0.0) << i;
    p.setLampFraction(0.01); // the faintest light brings the noise back
    std::vector<int> counts;
    for (int i = 0; i < 200; ++i)
        counts.push_back(p.sampleCount());
    EXPECT_NE(*std::min_element(counts.begin(), counts.end()), *std::max_element(counts.begin(), counts.end()));
}

TEST(SimHeadPhysics, InsertedFilmIsSensedAtOnceAndSettlesWithinASecond)
{
    HeadPhysics p = quiet();
    double now = 100.0;
    p.setClock([&now] { return now; });
    p.insertFilm(1.0);
    EXPECT_TRUE(p.dosimeterSensed());
    EXPECT_TRUE(p.settling());
    EXPECT_DOUBLE_EQ(p.pathAbsorbance(), 0.0); // it starts from the empty path

    double previous = 0.0;
    for (double t : {0.1, 0.3, 0.5, 0.7, 0.9}) {
        now = 100.0 + t;
        const double a = p.pathAbsorbance();
        EXPECT_GT(a, previous) << t;
        EXPECT_LT(a, 1.0) << t;
        previous = a;
    }
    EXPECT_GT(previous, 0.99); // nearly there before the second is over
    now = 100.0 + HeadPhysics::kSettleSeconds;
    EXPECT_FALSE(p.settling());
    EXPECT_DOUBLE_EQ(p.pathAbsorbance(), 1.0);
    EXPECT_NEAR(p.idealVoltage(), 1.9 * (1.2 - 1.0), 1e-12);

    // A second film starts from the first; an instant change ends the settling.
    p.insertFilm(0.4);
    now += 0.2;
    EXPECT_GT(p.pathAbsorbance(), 0.4);
    p.setDosimeter(0.3);
    EXPECT_FALSE(p.settling());
    EXPECT_DOUBLE_EQ(p.pathAbsorbance(), 0.3);
}
