// The three-decimal text shared by the main window and the filter check.
#include "measure/DecimalFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kalvor;

namespace {
std::string fmt(double v) { return formatThreeDecimals(v).toStdString(); }
} // namespace

TEST(DecimalFormat, ADigitBeforeThePointThreeAfterItAndNoUpperLimit)
{
    EXPECT_EQ(fmt(0.0), "0.000");
    EXPECT_EQ(fmt(0.05), "0.050");
    EXPECT_EQ(fmt(2.0), "2.000");
    EXPECT_EQ(fmt(12.3456), "12.346");
    EXPECT_EQ(fmt(1234567.891), "1234567.891");
    EXPECT_EQ(fmt(1e20), "100000000000000000000.000");
    EXPECT_EQ(fmt(1e-12), "0.000");
}

TEST(DecimalFormat, TiesRoundHalfAwayFromZeroOnTheShortestDecimalForm)
{
    // Each of these is stored a little below the half; its shortest form is
    // the tie itself, and the printed number rounds up.
    EXPECT_EQ(fmt(0.1235), "0.124");
    EXPECT_EQ(fmt(1.0005), "1.001");
    EXPECT_EQ(fmt(2.0005), "2.001");
    EXPECT_EQ(fmt(1.2345), "1.235");
    EXPECT_EQ(fmt(0.0005), "0.001");
    EXPECT_EQ(fmt(0.9995), "1.000");
    EXPECT_EQ(fmt(9.9995), "10.000");
    EXPECT_EQ(fmt(-0.1235), "-0.124");
    EXPECT_EQ(fmt(-0.0005), "-0.001");
    // The double just below 0.1235 prints as 0.12349999999999998: below the half.
    EXPECT_EQ(fmt(std::nextafter(0.1235, 0.0)), "0.123");
    EXPECT_EQ(fmt(0.00049), "0.000");
    // Results of the subtraction the readings come from.
    EXPECT_EQ(fmt(4.3 - 4.0), "0.300");
    EXPECT_EQ(fmt(1.1 - 1.2), "-0.100");
}

TEST(DecimalFormat, NegativeValuesCarryAMinusButZeroNeverDoes)
{
    EXPECT_EQ(fmt(-0.25), "-0.250");
    EXPECT_EQ(fmt(-12.345), "-12.345");
    EXPECT_EQ(fmt(-0.0004), "0.000");
    EXPECT_EQ(fmt(-0.0), "0.000");
    EXPECT_EQ(fmt(std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(fmt(-std::numeric_limits<double>::infinity()), "-inf");
}
