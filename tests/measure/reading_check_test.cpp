// The status of a reading from the spread of its conversions, its absorbance
// and its zero.
#include "measure/ReadingCheck.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace kalvor;

namespace {
constexpr int kAll = Acquisition::kConversions;
// A lit photometer: a few counts of noise around 2800, all near the top.
constexpr ReadingSpread kLit{2795, 2804, 2800, kAll, kAll};
} // namespace

TEST(ReadingCheck, EachRuleGivesItsState)
{
    EXPECT_EQ(checkReading(kLit, kAll, 0.5, true), ReadingStatus::Ok);
    EXPECT_EQ(checkReading(kLit, kAll, 3.0, true), ReadingStatus::Ok);
    EXPECT_EQ(checkReading(kLit, kAll, 3.0001, true), ReadingStatus::OverRange);
    EXPECT_EQ(checkReading(kLit, kAll, -0.05, true), ReadingStatus::Ok);
    EXPECT_EQ(checkReading(kLit, kAll, -0.0501, true), ReadingStatus::UnderRange);
    EXPECT_EQ(checkReading(kLit, kAll, 0.5, false), ReadingStatus::BadZero);

    EXPECT_EQ(checkReading({0, 3, 0, kAll, kAll}, kAll, 3.8, true), ReadingStatus::Floor);
    EXPECT_EQ(checkReading({4090, 4095, 4095, kAll, kAll}, kAll, -2.0, true), ReadingStatus::Ceiling);
    EXPECT_EQ(checkReading({2048, 2048, 2048, kAll, kAll}, kAll, 1.199, true), ReadingStatus::Flat);
    EXPECT_EQ(checkReading({2047, 2048, 2048, kAll, kAll}, kAll, 0.0, true), ReadingStatus::Ok);
    // Two thirds of the conversions near the peak is still enough; fewer is not.
    EXPECT_EQ(checkReading({100, 3000, 2990, kAll / 2, 2 * kAll / 3}, kAll, 0.5, true), ReadingStatus::Ok);
    EXPECT_EQ(checkReading({100, 3000, 2990, kAll, 2 * kAll / 3 - 1}, kAll, 0.5, true), ReadingStatus::Scattered);
}

TEST(ReadingCheck, ConverterStatesComeFirstThenTheZeroThenTheRange)
{
    // Every conversion at the floor is flat and over the limit as well: floor.
    EXPECT_EQ(checkReading({0, 0, 0, kAll, kAll}, kAll, 5.0, false), ReadingStatus::Floor);
    EXPECT_EQ(checkReading({4095, 4095, 4095, kAll, kAll}, kAll, 0.0, true), ReadingStatus::Ceiling);
    // A flat reading over the limit says what is wrong first.
    EXPECT_EQ(checkReading({900, 900, 900, kAll, kAll}, kAll, 3.5, false), ReadingStatus::Flat);
    // A bad zero outranks the range, which it makes meaningless.
    EXPECT_EQ(checkReading(kLit, kAll, 3.5, false), ReadingStatus::BadZero);
    EXPECT_EQ(checkReading(kLit, kAll, -1.2, false), ReadingStatus::BadZero);
    EXPECT_EQ(conversionStatus(kLit, kAll), ReadingStatus::Ok);
}

TEST(ReadingCheck, StatesHaveDistinctTexts)
{
    QSet<QString> texts;
    for (ReadingStatus s :
         {ReadingStatus::Zeroing, ReadingStatus::NoHead, ReadingStatus::Ok, ReadingStatus::Floor,
          ReadingStatus::Ceiling, ReadingStatus::Flat, ReadingStatus::Scattered, ReadingStatus::BadZero,
          ReadingStatus::OverRange, ReadingStatus::UnderRange, ReadingStatus::Timeout})
        texts.insert(statusText(s));
    EXPECT_EQ(texts.size(), 11);
    EXPECT_EQ(statusText(ReadingStatus::Ok), QStringLiteral("ok"));
    EXPECT_EQ(statusText(ReadingStatus::Zeroing), QStringLiteral("zeroing"));
    EXPECT_EQ(statusText(ReadingStatus::BadZero), QStringLiteral("bad-zero"));
}
