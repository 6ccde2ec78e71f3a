// Films slid into the simulated head at any point of the reading cycle: what
// the stability rule stores lies within a thousandth of the film's settled
// value over the whole range of films, where the rule without the trend
// check stores films that are still creeping up.
#include "batch/FilmSettling.h"

#include <gtest/gtest.h>
#include <random>

using namespace kalvor;
using namespace kalvor::batchtest;

namespace {

struct Outcome {
    double worst = 0;
    double lowest = 0;  // most negative stored - settled
};

Outcome run(bool noTrend, int films)
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> film(0.05, 2.5);
    std::uniform_real_distribution<double> phase(0.0, test::VirtualReader::kPeriod);
    test::VirtualReader reader(7);
    batch::StabilityRule rule;
    rule.noTrend = noTrend;
    Outcome out;
    for (int i = 0; i < films; ++i) {
        const double a = film(random);
        const FilmOutcome f = readFilm(reader, rule, a, phase(random));
        EXPECT_TRUE(f.stored) << "film " << i + 1 << " of " << a;
        const double d = f.value - f.settled;
        if (std::abs(d) > out.worst + 1e-12 && noTrend)
            EXPECT_LE(std::abs(d), 0.001 + 1e-9) << "film " << i + 1 << " of " << a << ": " << f.trace.toStdString();
        out.worst = std::max(out.worst, std::abs(d));
        out.lowest = std::min(out.lowest, d);
    }
    return out;
}

} // namespace

TEST(SettledRule, EveryStoredValueIsTheSettledValueWithinAThousandth)
{
    const Outcome settled = run(true, 150);
    EXPECT_LE(settled.worst, 0.001 + 1e-9);
    const Outcome creeping = run(false, 150);
    EXPECT_LT(creeping.lowest, -0.0015) << "without the trend check, films still rising are stored low";
}
