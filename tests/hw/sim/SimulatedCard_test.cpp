#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "core/ReaderState.h"
#include "hw/HeadLink.h"
#include "hw/IdentityRecord.h"
#include "hw/Registers.h"
#include "hw/sim/SimulatedCard.h"

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::sim;

namespace {
constexpr std::uint16_t kBase = 0x300;

// Starts one conversion and polls like the program does; returns the raw
// value hi x 16 + lo / 16 and the number of status reads it took.
std::pair<double, int> convert(SimulatedCard& card, std::uint16_t base = kBase)
{
    card.writePort(base + 1, 0x01);
    int reads = 0;
    while (!(card.readPort(base + 2) & stsAdcDone)) {
        if (++reads >= 1000)
            return {-1.0, reads};
    }
    const std::uint8_t hi = card.readPort(base + 1);
    const std::uint8_t lo = card.readPort(base + 0);
    EXPECT_EQ(lo & 0x0F, 0) << "lower nibble of the low byte must be zero";
    return {hi * 16 + lo / 16.0, reads + 1};
}
} // namespace

TEST(SimCard, ConversionIsLeftJustifiedAndCompletesAfterAFewStatusReads)
{
    SimulatedCard card;
    card.setNoiseSigma(0.0);
    EXPECT_TRUE(card.readPort(kBase + 2) & stsAdcDone) << "an idle converter reads done";

    const int expected = HeadPhysics::countForVoltage(1.9 * 1.2);
    card.writePort(kBase + 1, 0x01);
    for (int i = 0; i < SimulatedCard::kBusyStatusReads; ++i)
        EXPECT_FALSE(card.readPort(kBase + 2) & stsAdcDone) << i;
    EXPECT_TRUE(card.readPort(kBase + 2) & stsAdcDone);
    EXPECT_EQ(card.readPort(kBase + 1), expected >> 4);
    EXPECT_EQ(card.readPort(kBase + 0), (expected & 0x0F) << 4);

    // Counts with a non-zero low nibble survive the split.
    card.setDosimeter(0.3);
    const auto [raw, reads] = convert(card);
    EXPECT_EQ(raw, HeadPhysics::countForVoltage(1.9 * 0.9));
    EXPECT_EQ(reads, SimulatedCard::kBusyStatusReads + 1);
    EXPECT_EQ(card.conversions(), 2u);
}

TEST(SimCard, FreshLampReadsAboveFourTenthsAfterGain)
{
    SimulatedCard card; // default noise
    double sum = 0;
    for (int i = 0; i < 200; ++i)
        sum += convert(card).first;
    const double volts = (sum / 200 / 409.5 - 5) / 1.9;
    EXPECT_NEAR(volts, 1.2, 0.005);
}

TEST(SimCard, SecondaryWavelengthFollowsTheControlRegister)
{
    SimulatedCard card;
    card.setNoiseSigma(0.0);
    card.writePort(kBase + 3, 0x07);
    EXPECT_EQ(card.wavelength(), Wavelength::Secondary);
    EXPECT_EQ(convert(card).first, HeadPhysics::countForVoltage(1.9 * 1.0));
    card.writePort(kBase + 3, 0x02);
    EXPECT_EQ(card.wavelength(), Wavelength::Primary);
}

TEST(SimCard, StuckConverterNeverFinishes)
{
    SimulatedCard card;
    card.setAdcStuck(true);
    EXPECT_TRUE(card.readPort(kBase + 2) & stsAdcDone);
    EXPECT_EQ(convert(card).second, 1000);
    card.setAdcStuck(false);
    EXPECT_GT(convert(card).first, 0.0);
}

TEST(SimCard, StatusBitsFollowTheHead)
{
    SimulatedCard card;
    EXPECT_TRUE(card.readPort(kBase + 2) & stsNoDosimeter);
    card.setDosimeter(0.7);
    EXPECT_FALSE(card.readPort(kBase + 2) & stsNoDosimeter);
    card.setHolder(Holder::Filter);
    EXPECT_TRUE(card.readPort(kBase + 2) & stsNoDosimeter);
    card.setHolder(Holder::Film);

    EXPECT_FALSE(card.readPort(kBase + 2) & stsButton);
    card.setButton(true);
    EXPECT_TRUE(card.readPort(kBase + 2) & stsButton);

    card.setHeadConnected(false);
    const std::uint8_t s = card.readPort(kBase + 2);
    EXPECT_TRUE(s & stsNoDosimeter);
    EXPECT_FALSE(s & stsButton);
    EXPECT_TRUE(s & stsDataOut);
}

TEST(SimCard, OnlyItsFourPortsAnswer)
{
    SimulatedCard card;
    card.setAddress(0x2A0);
    EXPECT_EQ(card.readPort(0x300 + 2), 0xFF);
    EXPECT_EQ(card.readPort(0x29F), 0xFF);
    EXPECT_EQ(card.readPort(0x2A4), 0xFF);
    EXPECT_EQ(card.readPort(0x2A0 + 3), 0xFF) << "control register is write-only";
    card.writePort(0x300 + 3, 0x22);
    EXPECT_EQ(card.control(), 0);
    card.writePort(0x2A0 + 3, 0x32);
    EXPECT_EQ(card.control(), 0x32);
    EXPECT_TRUE(card.led());
    EXPECT_TRUE(card.buzzer());
    EXPECT_EQ(card.readPort(0x2A0 + 2) & ~(stsDataOut | stsNoDosimeter), stsAdcDone);

    card.setCardPresent(false);
    for (int off = 0; off < 4; ++off)
        EXPECT_EQ(card.readPort(0x2A0 + off), 0xFF);
    card.writePort(0x2A0 + 3, 0x02);
    EXPECT_EQ(card.control(), 0x32);
}

TEST(SimCard, ObserversHearControlChangesButNotConversions)
{
    SimulatedCard card;
    int calls = 0;
    const int id = card.addChangeObserver([&] { ++calls; });
    card.writePort(kBase + 3, 0x22);
    card.writePort(kBase + 3, 0x22); // unchanged
    EXPECT_EQ(calls, 1);
    convert(card);
    EXPECT_EQ(calls, 1);
    card.setButton(true);
    EXPECT_EQ(calls, 2);
    card.removeChangeObserver(id);
    card.setButton(false);
    EXPECT_EQ(calls, 2);
}

TEST(SimCard, IdentityGainBecomesTheHeadGain)
{
    SimulatedCard card;
    card.setIdentity(QStringLiteral("KALVOR15002.5510600"));
    EXPECT_DOUBLE_EQ(card.physics().gain(), 2.5);
    card.setIdentity(QStringLiteral("KALVOR1500abc510600"));
    EXPECT_DOUBLE_EQ(card.physics().gain(), 2.5);
}

// --- The program's head test against the simulated card. ---

namespace {
struct HeadTest {
    SimulatedCard card;
    ReaderState state;
    HeadLink link{state, card};
    RecordingMessageSink sink;
    HeadTest() { state.Control = 0x02; }
};

QString notThereText(const char* where)
{
    return loadText(1003) + QStringLiteral("  ") + loadText(1005) + QStringLiteral(" &H") +
           QLatin1String(where);
}
} // namespace

TEST(SimHeadTest, PassesAtTheCardsAddress)
{
    HeadTest t;
    t.card.setAddress(0x2A0);
    EXPECT_EQ(t.link.testHead(0x2A0), 0);
    EXPECT_TRUE(t.sink.messages.isEmpty());
    EXPECT_EQ(t.state.rdrEEPROM, identityImage(QStringLiteral("KALVOR15001.9510600")));
    EXPECT_EQ(t.card.control(), 0x02);
}

TEST(SimHeadTest, WrongAddressShowsNotThereWithTheTestedAddress)
{
    HeadTest t;
    t.card.setAddress(0x2A0);
    EXPECT_EQ(t.link.testHead(0x300), 1003);
    ASSERT_EQ(t.sink.messages.size(), 1);
    EXPECT_EQ(t.sink.messages[0], notThereText("300"));
    // A floating bus reads 0xFF: data out set is a 0 bit on every sample.
    EXPECT_EQ(t.state.rdrEEPROM, QString(64, QChar(0)));
    EXPECT_EQ(t.card.control(), 0) << "the card at 2A0 was not touched";
}

TEST(SimHeadTest, UnpluggedHeadOrRemovedCardFailsTheModelCheck)
{
    HeadTest t;
    t.card.setHeadConnected(false);
    EXPECT_EQ(t.link.testHead(0x300), 1003);
    EXPECT_EQ(t.state.rdrEEPROM, QString(64, QChar(0)));

    t.card.setHeadConnected(true);
    t.card.setCardPresent(false);
    EXPECT_EQ(t.link.testHead(0x300), 1003);
    EXPECT_EQ(t.sink.messages, QStringList({notThereText("300"), notThereText("300")}));
}

TEST(SimHeadTest, ConverterStuckMidConversionFailsTheCardCheck)
{
    HeadTest t;
    t.card.setAdcStuck(true);
    t.card.writePort(kBase + 1, 0x01);
    EXPECT_EQ(t.link.testHead(0x300), 1005);
    EXPECT_EQ(t.sink.messages, QStringList{loadText(1005) + QStringLiteral(" &H300")});
}

TEST(SimHeadTest, ForeignModelIsReported)
{
    HeadTest t;
    t.card.setIdentity(QStringLiteral("KALPHA15001.9510600"));
    EXPECT_EQ(t.link.testHead(0x300), 1004);
    EXPECT_EQ(t.sink.messages, QStringList{loadText(1004)});
}
