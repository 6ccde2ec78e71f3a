// The zero's own status, and the last good zero of each head and wavelength
// as kept in a real settings file.
#include "core/SettingsStore.h"
#include "measure/ZeroCheck.h"
#include "support/TempSettings.h"

#include <gtest/gtest.h>

#include <QSettings>

using namespace kalvor;

namespace {
constexpr int kAll = Acquisition::kConversions;
constexpr ReadingSpread kLit{2975, 2987, 2981, kAll, kAll};
constexpr ReadingSpread kDark{2048, 2048, 2048, kAll, kAll};
} // namespace

TEST(ZeroCheck, FilmThenTheZerosOwnConversionsThenItsLevel)
{
    EXPECT_EQ(checkZero(false, kLit, kAll, 1.2, std::nullopt), ZeroStatus::Ok);
    EXPECT_EQ(checkZero(true, kLit, kAll, 0.7, std::nullopt), ZeroStatus::Film);
    EXPECT_EQ(checkZero(true, kDark, kAll, 0.0, 1.2), ZeroStatus::Film);
    EXPECT_EQ(checkZero(false, kDark, kAll, 0.0, 1.2), ZeroStatus::Flat);
    EXPECT_EQ(checkZero(false, {100, 3000, 2990, kAll, kAll / 2}, kAll, 1.0, 1.2), ZeroStatus::Scattered);
    // Dark below 0.8 of the last good zero, and only when one is known.
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.96, 1.2), ZeroStatus::Ok);
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.959, 1.2), ZeroStatus::Dark);
    EXPECT_EQ(checkZero(false, kLit, kAll, 0.3, std::nullopt), ZeroStatus::Ok);
}

TEST(ZeroCheck, LastGoodZeroIsKeptPerHeadAndWavelengthInTheFile)
{
    test::TempSettings tmp;
    tmp.writeFileText("[Properties]\nZeroSN1500WL600=0.9\n");
    tmp.writeSystemFileText("[Properties]\nZeroSN1500WL510=1.25\n");
    SettingsStore settings(tmp.filePath(), {tmp.systemFilePath()});
    ZeroJudge judge(settings);
    EXPECT_EQ(judge.status(), ZeroStatus::Zeroing);
    judge.useHead(QStringLiteral("1500"), QStringLiteral("510"), QStringLiteral("600"));
    EXPECT_EQ(judge.lastGoodZero(false), std::optional(1.25)); // the administrator's
    EXPECT_EQ(judge.lastGoodZero(true), std::optional(0.9));

    EXPECT_EQ(judge.zeroTaken(true, false, kLit, 0.7), ZeroStatus::Dark);
    EXPECT_EQ(judge.lastGoodZero(true), std::optional(0.9)); // a bad zero is no measure
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.1), ZeroStatus::Ok);
    // On disk at once, without waiting for the end of the program.
    EXPECT_EQ(QSettings(tmp.filePath(), QSettings::IniFormat).value(QStringLiteral("Properties/ZeroSN1500WL510")),
              QStringLiteral("1.1000"));
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 0.87), ZeroStatus::Dark); // below 0.8 x 1.1

    // Another head has none: no zero of it is dark.
    judge.useHead(QStringLiteral("1501"), QStringLiteral("510"), QStringLiteral("600"));
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 0.3), ZeroStatus::Ok);
    // A wavelength field that holds none keeps nothing.
    judge.useHead(QStringLiteral("1502"), QStringLiteral("abc"), QStringLiteral("600"));
    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.0), ZeroStatus::Ok);
    EXPECT_FALSE(judge.lastGoodZero(false));

    // A stored zero that is no positive number stops like a bad gain, naming its file.
    for (const char* bad : {"abc", "0", "-1.2", "inf", "1e-320"}) {
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

TEST(ZeroCheck, OnlyASoundReadingOfTheHeadEmptyThroughoutMakesTheZeroStale)
{
    test::TempSettings tmp;
    SettingsStore settings(tmp.filePath());
    ZeroJudge judge(settings);
    judge.useHead(QStringLiteral("1500"), QStringLiteral("510"), QStringLiteral("600"));
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Ok, 1.0)); // no zero yet
    judge.zeroTaken(false, false, kLit, 1.2);

    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Ok, 0.05));
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Ok, -0.05));
    EXPECT_FALSE(judge.readingSensed(false, true, ReadingStatus::Ok, 0.5)); // pulled out during it
    EXPECT_FALSE(judge.readingSensed(true, false, ReadingStatus::Ok, 0.5)); // a film in
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Flat, 1.2));
    EXPECT_TRUE(judge.sound());
    EXPECT_TRUE(judge.readingSensed(true, true, ReadingStatus::Ok, -0.051));
    EXPECT_EQ(judge.status(), ZeroStatus::Stale);
    EXPECT_FALSE(judge.readingSensed(true, true, ReadingStatus::Ok, -0.2)); // already told

    EXPECT_EQ(judge.zeroTaken(false, false, kLit, 1.2), ZeroStatus::Ok); // until the next zero
}
