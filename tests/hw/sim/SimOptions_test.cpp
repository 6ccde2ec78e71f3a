#include "hw/Registers.h"
#include "hw/sim/SimOptions.h"

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::sim;

TEST(SimOptions, EmptyTextGivesTheDefaults)
{
    for (const char* text : {"", "--simulate", "--simulate="}) {
        const SimOptionsParse p = parseSimOptions(QString::fromLatin1(text));
        ASSERT_TRUE(p.ok()) << text << ": " << p.error.toStdString();
        EXPECT_EQ(p.options.address, 0x300);
        EXPECT_EQ(p.options.identity, QStringLiteral("KALVOR15001.9510600"));
        EXPECT_FALSE(p.options.dosimeter.has_value());
        EXPECT_TRUE(p.options.headConnected);
        EXPECT_FALSE(p.options.adcStuck);
    }
}

TEST(SimOptions, EveryKeyIsTaken)
{
    const SimOptionsParse p = parseSimOptions(
        u"--simulate=address=2a0,identity=KALVOR12342.0450550,dosimeter=0.75,holder=filter,"
        u"filter=Dark,lamp=0.6,seed=99,head=unplugged,adc=stuck,noise=0.004,card=removed");
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    const SimOptions& o = p.options;
    EXPECT_EQ(o.address, 0x2A0);
    EXPECT_EQ(o.identity, QStringLiteral("KALVOR12342.0450550"));
    EXPECT_EQ(o.dosimeter, 0.75);
    EXPECT_EQ(o.holder, Holder::Filter);
    EXPECT_EQ(o.filter, NdFilter::Dark);
    EXPECT_DOUBLE_EQ(o.lamp, 0.6);
    EXPECT_EQ(o.seed, 99u);
    EXPECT_FALSE(o.headConnected);
    EXPECT_TRUE(o.adcStuck);
    EXPECT_DOUBLE_EQ(o.noise, 0.004);
    EXPECT_DOUBLE_EQ(parseSimOptions(u"speed=4").options.speed, 4.0);
    EXPECT_FALSE(o.cardPresent);
    EXPECT_FALSE(parseSimOptions(u"dosimeter=0.4,dosimeter=none").options.dosimeter.has_value());
}

TEST(SimOptions, BadKeysAndValuesAreNamed)
{
    const struct {
        const char16_t* text;
        const char* mention;
    } cases[] = {
        {u"colour=red", "colour"},
        {u"address=300x", "300x"},
        {u"address=0F0", "0F0"},
        {u"address=400", "400"},
        {u"address=2A3", "2A3"},
        {u"dosimeter=-0.1", "-0.1"},
        {u"dosimeter=lots", "lots"},
        {u"holder=cup", "cup"},
        {u"filter=grey", "grey"},
        {u"lamp=nan", "nan"},
        {u"lamp=3", "lamp"},
        {u"seed=-1", "seed"},
        {u"head=maybe", "maybe"},
        {u"adc=slow", "slow"},
        {u"noise=2", "noise"},
        {u"speed=0.5", "speed"},
        {u"speed=21", "speed"},
        {u"address", "address"},
        {u"=5", "=5"},
        {u"address=2A0,,seed=1", "KEY=VALUE"},
    };
    for (const auto& c : cases) {
        const SimOptionsParse p = parseSimOptions(QStringView(c.text));
        EXPECT_FALSE(p.ok()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_TRUE(p.error.contains(QLatin1String(c.mention)))
            << QString::fromUtf16(c.text).toStdString() << " -> " << p.error.toStdString();
    }
    const QString tooLong(65, QLatin1Char('K'));
    EXPECT_FALSE(parseSimOptions(QStringLiteral("identity=") + tooLong).ok());
    EXPECT_FALSE(parseSimOptions(QStringLiteral("identity=KALVOR\u20AC")).ok());
}

TEST(SimOptions, ApplyingPutsTheCardInThatState)
{
    const SimOptionsParse p =
        parseSimOptions(u"address=2A0,identity=KALVOR17772.0,dosimeter=0.5,lamp=0.5,noise=0,button=1");
    EXPECT_FALSE(p.ok()) << "button is a topic item, not an option";

    const SimOptionsParse q = parseSimOptions(u"address=2A0,identity=KALVOR17772.0,dosimeter=0.5,lamp=0.5,noise=0");
    ASSERT_TRUE(q.ok()) << q.error.toStdString();
    SimulatedCard card;
    applySimOptions(q.options, card);
    EXPECT_EQ(card.address(), 0x2A0);
    EXPECT_DOUBLE_EQ(card.physics().gain(), 2.0);
    EXPECT_EQ(card.dosimeter(), 0.5);
    EXPECT_DOUBLE_EQ(card.physics().idealVoltage(), 2.0 * (1.2 * 0.5 - 0.5));
    EXPECT_EQ(card.eeprom().word(6), ('1' << 8) | '7');
    EXPECT_EQ(card.readPort(0x300 + 2), 0xFF);
    EXPECT_FALSE(card.readPort(0x2A0 + 2) & stsNoDosimeter);

    SimOptions faults;
    faults.headConnected = false;
    faults.adcStuck = true;
    faults.cardPresent = false;
    applySimOptions(faults, card);
    EXPECT_FALSE(card.headConnected());
    EXPECT_TRUE(card.adcStuck());
    EXPECT_FALSE(card.cardPresent());
    EXPECT_EQ(card.address(), 0x300);
}
