// The status of a reading from the spread of its conversions and its absorbance.
#include "measure/ReadingCheck.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace kalvor;

namespace {
constexpr int kAll = Acquisition::kConversions;
// A lit photometer: a few counts of noise around 2800, all near the top.
constexpr ReadingSpread kLit{2795, 2804, 2800, kAll};
} // namespace

TEST(ReadingCheck, EachRuleGivesItsState)
{
    EXPECT_EQ(checkReading(kLit, kAll, 0.5), ReadingStatus::Ok);
    EXPECT_EQ(checkReading(kLit, kAll, 3.0), ReadingStatus::Ok);
    EXPECT_EQ(checkReading(kLit, kAll, 3.0001), ReadingStatus::OverRange);
    EXPECT_EQ(checkReading(kLit, kAll, -0.2), ReadingStatus::Ok);

    EXPECT_EQ(checkReading({0, 3, 0, kAll}, kAll, 3.8), ReadingStatus::Floor);
    EXPECT_EQ(checkReading({4090, 4095, 4095, kAll}, kAll, -2.0), ReadingStatus::Ceiling);
    EXPECT_EQ(checkReading({2048, 2048, 2048, kAll}, kAll, 1.199), ReadingStatus::Flat);
    EXPECT_EQ(checkReading({2047, 2048, 2048, kAll}, kAll, 1.199), ReadingStatus::Ok);
    // Half the conversions in the top 21 counts is still enough; fewer is not.
    EXPECT_EQ(checkReading({100, 3000, 2990, kAll / 2}, kAll, 0.5), ReadingStatus::Ok);
    EXPECT_EQ(checkReading({100, 3000, 2990, kAll / 2 - 1}, kAll, 0.5), ReadingStatus::Scattered);
}

TEST(ReadingCheck, ConverterAtAnEndOutranksTheOtherStates)
{
    // Every conversion at the floor is flat and over the limit as well: floor.
    EXPECT_EQ(checkReading({0, 0, 0, kAll}, kAll, 5.0), ReadingStatus::Floor);
    EXPECT_EQ(checkReading({4095, 4095, 4095, kAll}, kAll, 0.0), ReadingStatus::Ceiling);
    // A flat reading over the limit says what is wrong first.
    EXPECT_EQ(checkReading({900, 900, 900, kAll}, kAll, 3.5), ReadingStatus::Flat);
}

TEST(ReadingCheck, StatesHaveDistinctTexts)
{
    QSet<QString> texts;
    for (ReadingStatus s : {ReadingStatus::Zeroing, ReadingStatus::Ok, ReadingStatus::Floor, ReadingStatus::Ceiling,
                            ReadingStatus::Flat, ReadingStatus::Scattered, ReadingStatus::OverRange,
                            ReadingStatus::Timeout})
        texts.insert(statusText(s));
    EXPECT_EQ(texts.size(), 8);
    EXPECT_EQ(statusText(ReadingStatus::Ok), QStringLiteral("ok"));
    EXPECT_EQ(statusText(ReadingStatus::Zeroing), QStringLiteral("zeroing"));
}
