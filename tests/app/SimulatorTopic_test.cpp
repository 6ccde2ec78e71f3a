#include "app/SimulatorTopic.h"
#include "hw/Registers.h"
#include "hw/sim/SimulatedCard.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::sim;

TEST(SimulatorTopic, StartsWithTheCardsState)
{
    SimulatedCard card;
    card.setDosimeter(0.25);
    SimulatorTopic topic(card);
    EXPECT_EQ(topic.name(), QStringLiteral("simulator"));
    const QStringList expected{QStringLiteral("dosimeter"), QStringLiteral("holder"), QStringLiteral("filter"),
                               QStringLiteral("lamp"),      QStringLiteral("button"), QStringLiteral("head"),
                               QStringLiteral("adc"),       QStringLiteral("wavelength"), QStringLiteral("led"),
                               QStringLiteral("buzzer"),    QStringLiteral("film")};
    EXPECT_EQ(topic.items(), expected);
    EXPECT_EQ(topic.text("dosimeter"), QStringLiteral("0.25"));
    EXPECT_EQ(topic.text("holder"), QStringLiteral("film"));
    EXPECT_EQ(topic.text("filter"), QStringLiteral("none"));
    EXPECT_EQ(topic.text("lamp"), QStringLiteral("1"));
    EXPECT_EQ(topic.text("button"), QStringLiteral("0"));
    EXPECT_EQ(topic.text("head"), QStringLiteral("connected"));
    EXPECT_EQ(topic.text("adc"), QStringLiteral("ok"));
    EXPECT_EQ(topic.text("wavelength"), QStringLiteral("primary"));
    EXPECT_EQ(topic.text("led"), QStringLiteral("0"));
    EXPECT_EQ(topic.text("buzzer"), QStringLiteral("0"));
    EXPECT_EQ(topic.text("film"), QStringLiteral("0.25"));
}

TEST(SimulatorTopic, PutAppliesToTheCard)
{
    SimulatedCard card;
    SimulatorTopic topic(card);

    EXPECT_TRUE(topic.put("dosimeter", " 0.5 ").ok);
    EXPECT_EQ(card.dosimeter(), 0.5);
    EXPECT_EQ(topic.text("dosimeter"), QStringLiteral("0.5"));
    EXPECT_FALSE(card.readPort(0x302) & stsNoDosimeter);
    EXPECT_TRUE(topic.put("dosimeter", "none").ok);
    EXPECT_FALSE(card.dosimeter().has_value());

    // A film slid in is sensed at once and still settling.
    EXPECT_TRUE(topic.put("film", "0.8").ok);
    EXPECT_EQ(card.dosimeter(), 0.8);
    EXPECT_FALSE(card.readPort(0x302) & stsNoDosimeter);
    EXPECT_TRUE(card.physics().settling());
    EXPECT_TRUE(topic.put("film", "none").ok);
    EXPECT_FALSE(card.dosimeter().has_value());
    EXPECT_FALSE(card.physics().settling());

    EXPECT_TRUE(topic.put("holder", "filter").ok);
    EXPECT_TRUE(topic.put("filter", "MEDIUM").ok);
    EXPECT_EQ(topic.text("filter"), QStringLiteral("medium"));
    EXPECT_NEAR(card.physics().pathAbsorbance(), 0.8, 1e-12);
    EXPECT_TRUE(topic.put("lamp", "0.8").ok);
    EXPECT_DOUBLE_EQ(card.lampFraction(), 0.8);
    EXPECT_TRUE(topic.put("button", "1").ok);
    EXPECT_TRUE(card.readPort(0x302) & stsButton);
    EXPECT_TRUE(topic.put("head", "unplugged").ok);
    EXPECT_FALSE(card.headConnected());
    EXPECT_TRUE(topic.put("adc", "stuck").ok);
    EXPECT_TRUE(card.adcStuck());

    // A put counts as a set even when the value stays the same.
    const quint64 seq = topic.value("adc").seq;
    EXPECT_TRUE(topic.put("adc", "stuck").ok);
    EXPECT_EQ(topic.value("adc").seq, seq + 1);
}

TEST(SimulatorTopic, BadValuesAndReadOnlyItemsAreRefused)
{
    SimulatedCard card;
    SimulatorTopic topic(card);
    const struct {
        const char* item;
        const char* text;
    } bad[] = {{"dosimeter", "-1"}, {"dosimeter", "x"}, {"holder", "box"}, {"filter", "grey"},
               {"lamp", "2.5"},     {"button", "yes"},  {"head", "off"},   {"adc", "broken"},
               {"film", "11"}};
    for (const auto& b : bad) {
        const quint64 seq = topic.value(b.item).seq;
        const PutResult r = topic.put(b.item, b.text);
        EXPECT_FALSE(r.ok) << b.item << "=" << b.text;
        EXPECT_EQ(r.code, QStringLiteral("BAD_VALUE"));
        EXPECT_EQ(topic.value(b.item).seq, seq) << b.item;
    }
    EXPECT_FALSE(card.dosimeter().has_value());
    EXPECT_EQ(card.holder(), Holder::Film);
    EXPECT_FALSE(card.adcStuck());

    for (const char* item : {"wavelength", "led", "buzzer"}) {
        const PutResult r = topic.put(item, "1");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.code, QStringLiteral("NOT_SUPPORTED")) << item;
    }
    EXPECT_FALSE(card.led());
    EXPECT_FALSE(topic.put("colour", "red").ok);
}

TEST(SimulatorTopic, RefreshSetsOnlyChangedOutputs)
{
    SimulatedCard card;
    SimulatorTopic topic(card);
    const quint64 buzzerSeq = topic.value("buzzer").seq;
    card.writePort(0x303, 0x07 | ctlData);
    topic.refresh();
    EXPECT_EQ(topic.text("wavelength"), QStringLiteral("secondary"));
    EXPECT_EQ(topic.text("led"), QStringLiteral("1"));
    EXPECT_EQ(topic.value("buzzer").seq, buzzerSeq);
    const quint64 ledSeq = topic.value("led").seq;
    topic.refresh();
    EXPECT_EQ(topic.value("led").seq, ledSeq);
}

TEST(SimulatorTopic, CardChangesReachTheTopicFromTheEventLoopOnce)
{
    SimulatedCard card;
    SimulatorTopic topic(card);
    QSignalSpy spy(&topic, &LinkTopic::itemSet);
    // An LED blinking many times between two event-loop turns ends on.
    for (int i = 0; i < 50; ++i) {
        card.writePort(0x303, 0x22);
        card.writePort(0x303, 0x02);
    }
    card.writePort(0x303, 0x22);
    card.setHolder(Holder::Filter);
    EXPECT_EQ(spy.count(), 0);
    ASSERT_TRUE(spy.wait(1000));
    EXPECT_EQ(topic.text("led"), QStringLiteral("1"));
    EXPECT_EQ(topic.text("holder"), QStringLiteral("filter"));
    EXPECT_EQ(spy.count(), 2);
}
