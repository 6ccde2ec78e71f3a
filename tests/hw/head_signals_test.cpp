// The control register write-through and the head's simple signals.
#include "hw/HeadLink.h"
#include "support/RecordingPort.h"

#include <gtest/gtest.h>

using namespace kalvor;
using kalvor::test::PortAccess;
using kalvor::test::RecordingPort;

namespace {
struct Head {
    ReaderState state;
    RecordingPort port;
    HeadLink head{state, port};
    Head()
    {
        state.base = 0x300;
        state.Control = 0x02;
    }
};
} // namespace

TEST(ControlRegister, ShadowIsStoredBeforeThePortIsWritten)
{
    Head h;
    std::vector<int> shadowAtWrite;
    h.port.onAccess = [&](const PortAccess&) { shadowAtWrite.push_back(h.state.Control); };
    h.head.writeControl(0x2A0, 0x07);
    EXPECT_EQ(h.port.accesses(), std::vector{PortAccess::write(0x2A3, 0x07)});
    EXPECT_EQ(shadowAtWrite, std::vector{0x07});
    EXPECT_EQ(h.state.Control, 0x07);
}

TEST(ControlRegister, LedAndBuzzerSetAndClearTheirBitsAtBase)
{
    Head h;
    h.head.LedOn();
    EXPECT_EQ(h.state.Control, 0x22);
    EXPECT_TRUE(h.state.LED);
    h.head.buzzerOn();
    EXPECT_EQ(h.state.Control, 0x32);
    EXPECT_TRUE(h.state.buzzer);
    h.head.LedOff();
    EXPECT_EQ(h.state.Control, 0x12);
    EXPECT_FALSE(h.state.LED);
    h.head.buzzerOff();
    EXPECT_EQ(h.state.Control, 0x02);
    EXPECT_FALSE(h.state.buzzer);

    EXPECT_EQ(h.port.writesTo(0x303), (std::vector<std::uint8_t>{0x22, 0x32, 0x12, 0x02}));
    EXPECT_EQ(h.port.accesses().size(), 4u); // one write per change, no reads
}

TEST(ControlRegister, LedOnThenLedOffWritesExactly22Then02)
{
    Head h;
    h.head.LedOn();
    h.head.LedOff();
    EXPECT_EQ(h.port.writesTo(0x303), (std::vector<std::uint8_t>{0x22, 0x02}));
    EXPECT_EQ(h.state.Control, 0x02);
}

TEST(ControlRegister, ShutDownClearWritesZeroAndKeepsTheShadow)
{
    Head h;
    h.state.Control = 0x32;
    h.head.clearControlRegister();
    EXPECT_EQ(h.port.accesses(), std::vector{PortAccess::write(0x303, 0x00)});
    EXPECT_EQ(h.state.Control, 0x32);

    Head unconfigured;
    unconfigured.state.base = 0;
    unconfigured.head.clearControlRegister();
    EXPECT_TRUE(unconfigured.port.accesses().empty());
}

TEST(HeadSignals, PresentAndPushButtonReadTheStatusAfreshEachTime)
{
    Head h;
    h.port.queueReads(0x302, {0x7F, 0x80, 0x20, 0xDF});
    EXPECT_TRUE(h.head.present());     // 0x7F: dosimeter sensed
    EXPECT_FALSE(h.head.present());    // 0x80: no dosimeter
    EXPECT_TRUE(h.head.pushButton());  // 0x20
    EXPECT_FALSE(h.head.pushButton()); // 0xDF
    EXPECT_EQ(h.port.readsFrom(0x302).size(), 4u);
    EXPECT_EQ(h.port.readCount(), 4u);
    EXPECT_EQ(h.port.writeCount(), 0u);
}

TEST(HeadSignals, LedStateSurvivesAHeadTest)
{
    Head h;
    h.head.LedOn();
    h.port.setRead(0x302, 0x01);
    h.head.testHead(0x300); // no head: fails, but the link ran
    EXPECT_EQ(h.state.Control, 0x22);
    EXPECT_TRUE(h.state.LED);
    EXPECT_EQ(h.port.writesTo(0x303).back(), 0x22);
}
