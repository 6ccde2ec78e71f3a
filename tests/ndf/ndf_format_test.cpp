#include "ndf/NdfFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace kalvor {
namespace {

TEST(NdfFormat, AlwaysShowsThreeDecimalsAndADigitBeforeThePoint)
{
    EXPECT_EQ(formatNdf(0.0), "0.000");
    EXPECT_EQ(formatNdf(0.5), "0.500");
    EXPECT_EQ(formatNdf(0.05), "0.050");
    EXPECT_EQ(formatNdf(0.123), "0.123");
    EXPECT_EQ(formatNdf(2.0), "2.000");
}

TEST(NdfFormat, HasNoUpperLimit)
{
    EXPECT_EQ(formatNdf(3.0001), "3.000");
    EXPECT_EQ(formatNdf(3.6), "3.600");
    EXPECT_EQ(formatNdf(12.3456), "12.346");
    EXPECT_EQ(formatNdf(1234567.891), "1234567.891");
}

TEST(NdfFormat, RoundsHalfAwayFromZeroOnTheDecimalValue)
{
    // 1.2345 and 2.0005 are stored just below the half; the user sees the
    // decimal number and expects it rounded up.
    EXPECT_EQ(formatNdf(1.2345), "1.235");
    EXPECT_EQ(formatNdf(2.0005), "2.001");
    EXPECT_EQ(formatNdf(1.2344999), "1.234");
    EXPECT_EQ(formatNdf(0.0005), "0.001");
    EXPECT_EQ(formatNdf(0.00049), "0.000");
    EXPECT_EQ(formatNdf(0.9995), "1.000");
    EXPECT_EQ(formatNdf(9.9996), "10.000");
    EXPECT_EQ(formatNdf(1e-12), "0.000");
}

TEST(NdfFormat, NegativeResultsCarryAMinusButZeroNeverDoes)
{
    EXPECT_EQ(formatNdf(-0.25), "-0.250");
    EXPECT_EQ(formatNdf(-1.2345), "-1.235");
    EXPECT_EQ(formatNdf(-0.0005), "-0.001");
    EXPECT_EQ(formatNdf(-0.0004), "0.000");
    EXPECT_EQ(formatNdf(-0.0), "0.000");
}

TEST(NdfFormat, ResultsOfTheDialogsSubtraction)
{
    // zero - reading, as the dialog computes it.
    EXPECT_EQ(formatNdf(4.3 - 4.0), "0.300");
    EXPECT_EQ(formatNdf(1.1 - 1.2), "-0.100");
    EXPECT_EQ(formatNdf(0.7 - 0.1), "0.600");
}

TEST(NdfFormat, NonFiniteValuesDoNotCrash)
{
    EXPECT_FALSE(formatNdf(std::numeric_limits<double>::quiet_NaN()).isEmpty());
    EXPECT_FALSE(formatNdf(std::numeric_limits<double>::infinity()).isEmpty());
}

} // namespace
} // namespace kalvor
