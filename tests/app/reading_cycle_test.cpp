// The reading cycle of the main window against the simulated reader: the two
// timers and their handlers, wavelength choice and re-zero with the exact
// control register writes, the zero's cautions, the readings as data item A,
// and the shut-down when the converter stops answering.
#include "app/MainWindow.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "app/ProgramEnd.h"
#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "hw/sim/SimulatedCard.h"
#include "support/RecordingPort.h"
#include "support/TempSettings.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace kalvor;

namespace {

constexpr std::uint16_t kBase = 0x300;
constexpr std::uint16_t kControlPort = kBase + 3;

using Bytes = std::vector<std::uint8_t>;

class ReadingCycle : public ::testing::Test {
protected:
    test::TempSettings tmp;
    RecordingMessageSink messages;
    sim::SimulatedCard card;
    test::RecordingPort io{card}; // every access on its way to the card
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<LinkTopic> data{createDataTopic(nullptr)};
    std::unique_ptr<Reader> reader;
    std::unique_ptr<frmKALVOR> window;

    void SetUp() override
    {
        setEndProgramHandler([](int s) { throw ProgramEnded{s}; });
        clearEndProgramSteps();
        card.setNoiseSigma(0.0);
        tmp.writeFileText("[Properties]\nPort=768\n");
        settings = std::make_unique<SettingsStore>(tmp.filePath());
        reader = std::make_unique<Reader>(io, *settings, *data);
        window = std::make_unique<frmKALVOR>(*reader);
        reader->formUnload = [this](int cancel) { window->Form_Unload(cancel); };
        window->Form_Load(); // primary stored by default: Control 0x02, Settling
        ASSERT_EQ(reader->state.Control, 0x02);
        ASSERT_TRUE(messages.messages.isEmpty()) << messages.messages.join('|').toStdString();
        io.clearLog();
    }
    void TearDown() override
    {
        reader->tmrRead.stop();
        reader->tmrDelayZero.stop();
        setEndProgramHandler({});
    }

    bool settling() const { return reader->tmrDelayZero.isActive() && !reader->tmrRead.isActive(); }
    bool reading() const { return !reader->tmrDelayZero.isActive() && reader->tmrRead.isActive(); }
    std::uint64_t conversions() const { return card.conversions(); }

    // From the start-up's Settling into Reading, with the zero taken.
    void zeroOnce()
    {
        reader->tmrDelayZero_Timer();
        ASSERT_TRUE(reading());
        io.clearLog();
    }
};

// ---- Wavelength choice, settling and zero, handler by handler ----

TEST_F(ReadingCycle, SecondaryWritesPulseAtOnceClearsItOneTickLaterAndZeroesAtTheSecondTick)
{
    zeroOnce();
    const double primaryZero = reader->state.z1;
    const std::uint64_t before = conversions();

    reader->mnuSecondary_Click();
    EXPECT_EQ(io.writesTo(kControlPort), Bytes{0x07});
    EXPECT_EQ(card.wavelength(), sim::Wavelength::Secondary);
    EXPECT_EQ(data->text(item::WL), data->text(item::lblA2));
    EXPECT_EQ(data->text(item::WL), QStringLiteral("600 nm"));
    EXPECT_TRUE(reader->secondaryChecked());
    EXPECT_FALSE(reader->primaryChecked());
    EXPECT_EQ(settings->readSetting(keys::Display, {}), QStringLiteral("Secondary"));
    EXPECT_TRUE(settling());

    reader->tmrDelayZero_Timer(); // first tick: only the pulse bit goes
    EXPECT_EQ(io.writesTo(kControlPort), (Bytes{0x07, 0x03}));
    EXPECT_TRUE(settling());
    EXPECT_EQ(conversions(), before);
    EXPECT_EQ(reader->state.z1, primaryZero);

    reader->tmrDelayZero_Timer(); // second tick: the zero
    EXPECT_EQ(io.writesTo(kControlPort), (Bytes{0x07, 0x03}));
    EXPECT_TRUE(reading());
    EXPECT_EQ(conversions(), before + 1200);
    EXPECT_NEAR(reader->state.z1, 1.0, 0.01); // the secondary lamp level
    EXPECT_NE(reader->state.z1, primaryZero);
}

TEST_F(ReadingCycle, PrimaryClearsBothWavelengthBitsAndZeroesAtTheFirstTick)
{
    zeroOnce();
    reader->head.LedOn(); // an unrelated bit must survive the masks
    reader->mnuSecondary_Click();
    reader->tmrDelayZero_Timer();
    reader->tmrDelayZero_Timer();
    ASSERT_EQ(io.writesTo(kControlPort), (Bytes{0x22, 0x27, 0x23}));
    io.clearLog();
    const std::uint64_t before = conversions();

    reader->mnuPrimary_Click();
    EXPECT_EQ(io.writesTo(kControlPort), Bytes{0x22});
    EXPECT_EQ(card.wavelength(), sim::Wavelength::Primary);
    EXPECT_EQ(data->text(item::WL), QStringLiteral("510 nm"));
    EXPECT_TRUE(reader->primaryChecked());
    EXPECT_FALSE(reader->secondaryChecked());
    EXPECT_EQ(settings->readSetting(keys::Display, {}), QStringLiteral("Primary"));
    EXPECT_TRUE(settling());

    reader->tmrDelayZero_Timer();
    EXPECT_EQ(io.writesTo(kControlPort), Bytes{0x22});
    EXPECT_TRUE(reading());
    EXPECT_EQ(conversions(), before + 1200);
    EXPECT_NEAR(reader->state.z1, 1.2, 0.01);
}

TEST_F(ReadingCycle, ChoosingTheCheckedWavelengthAgainReZeroes)
{
    zeroOnce();
    reader->tmrRead_Timer();
    card.setLampFraction(0.75); // the lamp has aged: a new zero must show it

    reader->mnuPrimary_Click();
    EXPECT_EQ(io.writesTo(kControlPort), Bytes{0x02});
    EXPECT_TRUE(settling());
    reader->tmrDelayZero_Timer();
    EXPECT_TRUE(reading());
    EXPECT_NEAR(reader->state.z1, 0.9, 0.01);
}

TEST_F(ReadingCycle, ZeroCommandWhileSettlingStaysSettlingAndOneZeroFollows)
{
    // From Reading: one zero at the next tick.
    zeroOnce();
    reader->mnuZero_Click();
    EXPECT_TRUE(settling());
    EXPECT_TRUE(io.writesTo(kControlPort).empty());

    // While settling after a switch to the secondary wavelength.
    reader->mnuSecondary_Click();
    reader->mnuZero_Click();
    EXPECT_TRUE(settling());
    const std::uint64_t before = conversions();
    reader->tmrDelayZero_Timer();
    EXPECT_TRUE(settling());
    reader->mnuZero_Click();
    EXPECT_TRUE(settling());
    reader->tmrDelayZero_Timer();
    EXPECT_TRUE(reading());
    EXPECT_EQ(conversions(), before + 1200);
    EXPECT_EQ(io.writesTo(kControlPort), (Bytes{0x07, 0x03}));
}

TEST_F(ReadingCycle, RepeatedZeroCommandsUnderRealTicksGiveExactlyOneZero)
{
    const std::uint64_t before = conversions();
    reader->mnuZero_Click();
    QTest::qWait(200);
    reader->mnuZero_Click();
    reader->mnuSecondary_Click();
    reader->mnuZero_Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return reader->tmrRead.isActive(); }, 5000));
    EXPECT_FALSE(reader->tmrDelayZero.isActive());
    EXPECT_EQ(conversions(), before + 1200);
    EXPECT_EQ(io.writesTo(kControlPort), (Bytes{0x07, 0x03}));
}

// ---- Readings ----

TEST_F(ReadingCycle, ReadingRunsWithTheReadTimerOffAndReArmsIt)
{
    zeroOnce();
    int startsSeen = 0;
    int startsWithTimerOn = 0;
    io.onAccess = [&](const test::PortAccess& a) {
        if (a.kind == test::PortAccess::Write && a.port == kBase + 1) {
            ++startsSeen;
            startsWithTimerOn += reader->tmrRead.isActive() ? 1 : 0;
        }
    };
    reader->tmrRead_Timer();
    io.onAccess = nullptr;
    EXPECT_EQ(startsSeen, 1200);
    EXPECT_EQ(startsWithTimerOn, 0);
    EXPECT_TRUE(reading());
    EXPECT_NE(data->text(item::A), QStringLiteral("Zeroing"));
    EXPECT_TRUE(io.writesTo(kControlPort).empty());
}

TEST_F(ReadingCycle, LabelShowsZeroingUntilTheFirstReadingAndEveryReadingSetsTheItem)
{
    const quint64 seqAtStart = data->value(item::A).seq;
    zeroOnce();
    EXPECT_EQ(data->text(item::A), QStringLiteral("Zeroing"));
    EXPECT_EQ(window->A->text(), QStringLiteral("Zeroing"));
    EXPECT_EQ(data->value(item::A).seq, seqAtStart);

    QSignalSpy sets(data.get(), &LinkTopic::itemSet);
    reader->tmrRead_Timer();
    reader->tmrRead_Timer();
    ASSERT_EQ(sets.count(), 2);
    for (const auto& args : sets)
        EXPECT_EQ(args.at(0).toString(), item::A);
    EXPECT_EQ(data->value(item::A).seq, seqAtStart + 2);
    EXPECT_EQ(data->text(item::A), QStringLiteral(" 0.000")); // nothing in the path
    EXPECT_EQ(window->A->text(), data->text(item::A));

    // A re-zero leaves the last reading in place.
    reader->mnuZero_Click();
    reader->tmrDelayZero_Timer();
    EXPECT_EQ(data->value(item::A).seq, seqAtStart + 2);
    EXPECT_EQ(sets.count(), 2);
}

TEST_F(ReadingCycle, DosimeterInsertedAfterTheZeroReadsItsAbsorbance)
{
    zeroOnce();
    card.setDosimeter(0.5);
    reader->tmrRead_Timer();
    const QString a = data->text(item::A);
    EXPECT_TRUE(a.startsWith(QLatin1Char(' '))) << a.toStdString();
    EXPECT_NEAR(a.toDouble(), 0.5, 0.01) << a.toStdString();
    EXPECT_TRUE(messages.messages.isEmpty());

    card.setDosimeter(3.5); // beyond the display limit; the cycle goes on
    reader->tmrRead_Timer();
    EXPECT_EQ(data->text(item::A), QStringLiteral(">3.0"));
    EXPECT_TRUE(reading());
}

TEST_F(ReadingCycle, DosimeterPresentAtTheZeroIsReportedBeforeTheZeroReading)
{
    card.setDosimeter(0.3);
    const std::uint64_t before = conversions();
    std::vector<std::uint64_t> conversionsWhenShown;
    messages.onShow = [&](const QString&) { conversionsWhenShown.push_back(conversions()); };
    reader->tmrDelayZero_Timer();
    ASSERT_EQ(messages.messages, QStringList{loadText(1008)});
    EXPECT_EQ(conversionsWhenShown, std::vector<std::uint64_t>{before});
    EXPECT_TRUE(reading()); // the zero is kept, the cycle goes on
    EXPECT_NEAR(reader->state.z1, 0.9, 0.01);
}

TEST_F(ReadingCycle, DimLampAndBlockedPathCautionsAtTheZero)
{
    card.setLampFraction(0.25); // zero 0.3 V
    reader->tmrDelayZero_Timer();
    EXPECT_EQ(messages.messages, QStringList{loadText(1010)});
    EXPECT_TRUE(reading());

    messages.messages.clear();
    card.setLampFraction(0.1); // zero 0.12 V
    reader->mnuZero_Click();
    reader->tmrDelayZero_Timer();
    EXPECT_EQ(messages.messages, QStringList{loadText(1011)});
    EXPECT_TRUE(reading());
    EXPECT_NEAR(reader->state.z1, 0.12, 0.01);

    messages.messages.clear();
    card.setLampFraction(0.5); // zero 0.6 V: no caution
    reader->mnuZero_Click();
    reader->tmrDelayZero_Timer();
    EXPECT_TRUE(messages.messages.isEmpty());
}

// ---- Real timers ----

TEST_F(ReadingCycle, FirstReadingFollowsSettleZeroAndOneIntervalAndReadingsStayApart)
{
    zeroOnce();
    std::vector<qint64> aTimes; // ns since the choice
    QElapsedTimer clock;
    QObject receiver;
    QObject::connect(data.get(), &LinkTopic::itemSet, &receiver, [&](const QString& name, const ItemValue&) {
        if (name == item::A)
            aTimes.push_back(clock.nsecsElapsed());
    });

    // The first reading takes longer than the interval: the next one must
    // still wait a full interval after it has ended.
    constexpr int kSlowMs = 650;
    int starts = 0;
    io.onAccess = [&](const test::PortAccess& a) {
        if (a.kind == test::PortAccess::Write && a.port == kBase + 1 && ++starts == 1201) // first conversion after the zero's 1200
            QThread::msleep(kSlowMs);
    };

    clock.start();
    reader->mnuPrimary_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return aTimes.size() >= 3; }, 10000)) << aTimes.size();
    reader->tmrRead.stop();
    io.onAccess = nullptr;

    constexpr qint64 ms = 1000000;
    EXPECT_GE(aTimes[0], (500 + 600 + kSlowMs - 1) * ms);
    EXPECT_GE(aTimes[1] - aTimes[0], (600 - 1) * ms)
        << "a tick that fell due during the slow reading started the next one early";
    EXPECT_GE(aTimes[2] - aTimes[1], (600 - 1) * ms);
}

// ---- The converter stops answering ----

TEST_F(ReadingCycle, StuckConverterReportsUnloadsAndEndsTheProgram)
{
    zeroOnce();
    reader->tmrRead_Timer();
    const QString lastA = data->text(item::A);
    card.setAdcStuck(true);

    EXPECT_THROW(reader->tmrRead_Timer(), ProgramEnded);

    EXPECT_EQ(messages.messages,
              QStringList{loadText(1007) + loadText(1000) + QStringLiteral("1007-A")});
    EXPECT_EQ(io.writesTo(kControlPort), Bytes{0x00});
    EXPECT_EQ(reader->state.Control, 0x02);
    EXPECT_FALSE(reader->tmrRead.isActive());
    EXPECT_FALSE(reader->tmrDelayZero.isActive());
    EXPECT_EQ(data->text(item::A), lastA);

    SettingsStore stored(tmp.filePath());
    EXPECT_EQ(stored.readSetting(keys::ScreenLeft, {}), QStringLiteral("100"));
    EXPECT_EQ(stored.readSetting(keys::ScreenTop, {}), QStringLiteral("100"));
    EXPECT_EQ(stored.readSetting(QStringLiteral("GainSN1500"), {}), QStringLiteral("1.9"));
}

} // namespace
