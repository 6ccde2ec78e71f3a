// The zero's own status, and the last good zero of each head and wavelength
// as the settings hold it.
#include "core/SettingsStore.h"
#include "measure/ZeroCheck.h"
#include "support/TempSettings.h"

#include <gtest/gtest.h>

using namespace kalvor;

namespace {
constexpr int kAll = Acquisition::kConversions;
constexpr ReadingSpread kLit{2975, 2987, 2981, kAll, kAll};
} // namespace

TEST(ZeroCheck, FilmThenTheZerosOwnConversionsThenDarkAgainstTheLastGoodZero)
{
    EXPECT_EQ(checkZero(false, kLit, kAll, 1.2, std::nullopt), ZeroStatus::Ok);
    EXPECT_EQ(checkZero(true, {2048, 2048, 2048, kAll, kAll}, kAll, 0.0, 1.2), ZeroStatus::Film);
    EXPECT_EQ(checkZero(false, {2048, 2048, 2048, kAll, kAll}, kAll, 0.0, 1.2), ZeroStatus::Flat);
    EXPECT_EQ(checkZero(false, {100, 3000, 2990, kAll, kAll / 2}, kAll, 1.0, 1.2), ZeroStatus::Scattered);
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.96, 1.2), ZeroStatus::Ok);
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.959, 1.2), ZeroStatus::Dark);
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.3, std::nullopt), ZeroStatus::Ok);
}

TEST(ZeroCheck, LastGoodZeroIsKeptPerHeadAndWavelengthAndABadStoredOneStopsTheStart)
{
    test::TempSettings tmp;
    tmp.writeFileText("[Properties]\nZeroSN1500WL600=0.9\n");
    tmp.writeSystemFileText("[Properties]\nZeroSN1500WL510=1.25\n");
    SettingsStore settings(tmp.filePath(), {tmp.systemFilePath()});
    ZeroJudge judge(settings);
    judge.useHead(QStringLiteral("1500"), QStringLiteral("510"), QStringLiteral("600"));
    EXPECT_EQ(judge.lastGoodZero(false), std::optional(1.25)); // the administrator's
    EXPECT_EQ(judge.zeroTaken(true, false, kLit, 0.7), ZeroStatus::Dark);
    EXPECT_EQ(judge.lastGoodZero(true), std::optional(0.9)); // a bad zero is no measure
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.1), ZeroStatus::Ok);
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 0.87), ZeroStatus::Dark); // below 0.8 x 1.1
    judge.useHead(QStringLiteral("1502"), QStringLiteral("abc"), QStringLiteral("600"));
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.0), ZeroStatus::Ok);
    EXPECT_FALSE(judge.lastGoodZero(false)); // no wavelength, nothing kept

    for (const char* bad : {"abc", "0", "-1.2", "1e-320"}) {
        tmp.writeFileText(QByteArray("[Properties]\nZeroSN1500WL600=") + bad + "\n");
        SettingsStore edited(tmp.filePath());
        ZeroJudge j(edited);
        try {
            j.useHead(QStringLiteral("1500"), QStringLiteral("510"), QStringLiteral("600"));
            ADD_FAILURE() << bad << " was taken";
        } catch (const SettingsError& e) {
            EXPECT_EQ(e.key, QStringLiteral("ZeroSN1500WL600")) << bad;
            EXPECT_EQ(e.file, tmp.filePath());
        }
    }
}

TEST(ZeroCheck, OnlyASoundReadingOfTheHeadEmptyBeforeAndAfterMakesItStale)
{
    test::TempSettings tmp;
    SettingsStore settings(tmp.filePath());
    ZeroJudge judge(settings);
    judge.zeroTaken(false, false, kLit, 1.2);
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Ok, -0.05));
    EXPECT_FALSE(judge.readingSensed(false, true, ReadingStatus::Ok, 0.5)); // pulled out during it
    EXPECT_FALSE(judge.readingSensed(true, false, ReadingStatus::Ok, 0.5)); // a film in
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Flat, 1.2));
    EXPECT_TRUE(judge.readingSensed(true, true, ReadingStatus::Ok, -0.051));
    EXPECT_EQ(judge.status(), ZeroStatus::Stale);
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.2), ZeroStatus::Ok); // until the next zero
}
