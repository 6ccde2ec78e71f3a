// The program's own EEPROM link (HeadLink) reading through the simulated chip.
#include "core/ReaderState.h"
#include "hw/HeadLink.h"
#include "hw/IdentityRecord.h"
#include "hw/Registers.h"
#include "hw/sim/SimulatedCard.h"

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::sim;

namespace {
struct Rig {
    SimulatedCard card;
    ReaderState state;
    HeadLink link{state, card};
    Rig()
    {
        state.Control = 0x02;
        state.base = 0x300;
        state.testBase = 0x300;
    }
};
} // namespace

TEST(SimEeprom, GetEepromReadsBackEachIdentityExactly)
{
    for (const QString& leading : {QStringLiteral("KALVOR15001.9510600"), QStringLiteral("KALVOR19992.1400780"),
                                  QStringLiteral("KALVOR1001"), QString()}) {
        Rig rig;
        rig.card.setIdentity(leading);
        EXPECT_EQ(rig.link.getEEPROM(), identityImage(leading)) << leading.toStdString();
    }
}

TEST(SimEeprom, EveryByteValueSurvivesTheRoundTrip)
{
    QString image;
    for (int i = 0; i < 64; ++i)
        image.append(QChar(static_cast<char16_t>((i * 37 + 11) % 256)));
    image[0] = QChar(0);
    image[1] = QChar(0xFF);
    Rig rig;
    rig.card.setEepromImage(image);
    EXPECT_EQ(rig.link.getEEPROM(), image);
}

TEST(SimEeprom, GetEepromLeavesTheControlRegisterAsItWas)
{
    Rig rig;
    rig.state.Control = 0x22; // LED on
    rig.link.writeControl(0x300, 0x22);
    rig.link.getEEPROM();
    EXPECT_EQ(rig.card.control(), 0x22);
    EXPECT_TRUE(rig.card.led());
    EXPECT_FALSE(rig.card.buzzer());
}

TEST(SimEeprom, RawImageAddressesAllSixtyFourRegisters)
{
    QByteArray raw;
    for (int i = 0; i < 128; ++i)
        raw.append(static_cast<char>(i * 2 + 1));
    Rig rig;
    rig.card.setEepromRaw(raw);
    for (int reg : {0, 1, 31, 62, 63}) {
        const QString word = rig.link.readEeprom(reg);
        ASSERT_EQ(word.size(), 2);
        EXPECT_EQ(word[0].unicode(), static_cast<unsigned char>(raw[2 * reg])) << reg;
        EXPECT_EQ(word[1].unicode(), static_cast<unsigned char>(raw[2 * reg + 1])) << reg;
    }
}

TEST(SimEeprom, OddRegistersOfAnIdentityImageReadErased)
{
    Rig rig;
    EXPECT_EQ(rig.link.readEeprom(1), QString(2, QChar(0xFF)));
    EXPECT_EQ(rig.link.readEeprom(2), QStringLiteral("LV"));
}

TEST(SimEeprom, OtherInstructionsAreIgnoredAndDeselectingResets)
{
    Rig rig;
    rig.link.setControlBits(0x300, ctlDeselect);
    rig.link.setControlBits(0x300, ctlData);
    rig.link.setControlBits(0x300, ctlClock);
    rig.link.sendOpcode(0xC0); // ERASE register 0: no data follows
    EXPECT_EQ(rig.link.getByte(), QChar(0));
    EXPECT_EQ(rig.card.eeprom().word(0), 0x4B41); // "KA" still there

    // A read broken off after one byte, then a full read of another register.
    rig.link.setControlBits(0x300, ctlDeselect);
    rig.link.setControlBits(0x300, ctlData);
    rig.link.setControlBits(0x300, ctlClock);
    rig.link.sendOpcode(0x80 + 4);
    EXPECT_EQ(rig.link.getByte(), QChar('O'));
    EXPECT_EQ(rig.link.readEeprom(6), QStringLiteral("15"));
}

TEST(SimEeprom, UnpluggedHeadReadsAsCodeZero)
{
    Rig rig;
    rig.card.setHeadConnected(false);
    EXPECT_EQ(rig.link.getEEPROM(), QString(64, QChar(0)));
    rig.card.setHeadConnected(true);
    EXPECT_EQ(rig.link.getEEPROM(), identityImage(QStringLiteral("KALVOR15001.9510600")));
}
