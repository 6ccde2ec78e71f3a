// The three-wire link to the head EEPROM, checked byte by byte on the
// control register and status register of a recording port.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/HeadLink.h"
#include "support/RecordingPort.h"

#include <gtest/gtest.h>

using namespace kalvor;
using kalvor::test::PortAccess;
using kalvor::test::RecordingPort;

namespace {

constexpr std::uint16_t kBase = 0x300;
constexpr std::uint16_t kControlPort = kBase + 3;
constexpr std::uint16_t kStatusPort = kBase + 2;

// Control bytes of one register read, register 0, from Control = 0x02, up to
// the data clocks; then sixteen data clocks (each 20 30 + a status read);
// then deselect and the clock cleared by getEEPROM.
std::vector<std::uint8_t> registerZeroBytesBeforeData()
{
    std::vector<std::uint8_t> v = {0x02, 0x22, 0x32, // set-up
                                   0x30,             // select
                                   0x20, 0x30,       // clock with data-in 0
                                   0x10,             // data-in 1
                                   0x00, 0x10,       // start bit
                                   0x10,             // sendByte start
                                   0x10, 0x00, 0x10, // bit 1
                                   0x30, 0x20, 0x30}; // bit 0
    for (int i = 0; i < 6; ++i) // address bits, all 0
        v.insert(v.end(), {0x30, 0x20, 0x30});
    v.push_back(0x30); // data-in back to 0
    return v;
}

struct Link {
    ReaderState state;
    RecordingPort port;
    HeadLink head{state, port};

    Link(std::uint8_t control = 0x02)
    {
        state.Control = control;
        state.testBase = kBase;
    }
};

// Decodes the frames a 93C46 would see: for each selected period, the data-in
// bits sampled on rising clock edges.
std::vector<std::vector<int>> decodeFrames(const std::vector<std::uint8_t>& writes, std::uint8_t before)
{
    std::vector<std::vector<int>> frames;
    std::uint8_t prev = before;
    bool selected = !(before & 0x02);
    for (std::uint8_t b : writes) {
        const bool nowSelected = !(b & 0x02);
        if (nowSelected && !selected)
            frames.emplace_back();
        if (nowSelected && selected && !(prev & 0x10) && (b & 0x10))
            frames.back().push_back((b & 0x20) ? 0 : 1);
        selected = nowSelected;
        prev = b;
    }
    return frames;
}

} // namespace

TEST(HeadEepromLink, FirstRegisterIsTheExactWireSequenceWithStatusReadsAfterEachDataClock)
{
    Link link(0x02);
    link.port.setRead(kStatusPort, 0x02);
    link.head.getEEPROM();

    std::vector<PortAccess> expected;
    for (std::uint8_t b : registerZeroBytesBeforeData())
        expected.push_back(PortAccess::write(kControlPort, b));
    ASSERT_EQ(expected.size(), 35u);
    for (int i = 0; i < 16; ++i) {
        expected.push_back(PortAccess::write(kControlPort, 0x20));
        expected.push_back(PortAccess::write(kControlPort, 0x30));
        expected.push_back(PortAccess::read(kStatusPort, 0x02));
    }
    expected.push_back(PortAccess::write(kControlPort, 0x32)); // deselect
    expected.push_back(PortAccess::write(kControlPort, 0x22)); // clock cleared by getEEPROM

    const auto& log = link.port.accesses();
    ASSERT_GE(log.size(), expected.size());
    const std::vector<PortAccess> first(log.begin(), log.begin() + expected.size());
    EXPECT_EQ(first, expected);
}

TEST(HeadEepromLink, WholeImageCountsCommandsAndRestore)
{
    Link link(0x02);
    link.port.setRead(kStatusPort, 0x02);
    const QString image = link.head.getEEPROM();

    EXPECT_EQ(image.size(), 64);
    const auto writes = link.port.writesTo(kControlPort);
    EXPECT_EQ(writes.size(), 2209u);
    EXPECT_EQ(link.port.writeCount(), 2209u); // nothing written anywhere else
    EXPECT_EQ(link.port.readsFrom(kStatusPort).size(), 512u);
    EXPECT_EQ(link.port.readCount(), 512u);
    EXPECT_EQ(writes.back(), 0x02);
    EXPECT_EQ(link.state.Control, 0x02);
    for (std::uint8_t b : writes)
        ASSERT_EQ(b & 0xC8, 0) << "unused control bits set in " << int(b);

    // Each register: 69 writes; every register ends deselected, clock cleared.
    for (int r = 0; r < 32; ++r) {
        EXPECT_EQ(writes[r * 69 + 67], 0x32) << "register " << 2 * r;
        EXPECT_EQ(writes[r * 69 + 68], 0x22) << "register " << 2 * r;
    }

    // What the EEPROM sees: a dummy 0, the start bit, the command, 16 data clocks.
    const auto frames = decodeFrames(writes, 0x02);
    ASSERT_EQ(frames.size(), 32u);
    for (int r = 0; r < 32; ++r) {
        const auto& bits = frames[r];
        ASSERT_EQ(bits.size(), 26u) << "register " << 2 * r;
        EXPECT_EQ(bits[0], 0);
        EXPECT_EQ(bits[1], 1);
        int code = 0;
        for (int i = 2; i < 10; ++i)
            code = code * 2 + bits[i];
        EXPECT_EQ(code, 0x80 + 2 * r);
    }
}

TEST(HeadEepromLink, DataOutLineLevelsGiveCharacterCodes)
{
    Link clear;
    clear.port.setRead(kStatusPort, 0x00); // stsDataOut clear: every bit 1
    EXPECT_EQ(clear.head.getEEPROM(), QString(64, QChar(0xFF)));

    Link set;
    set.port.setRead(kStatusPort, 0xFF); // stsDataOut set: every bit 0
    EXPECT_EQ(set.head.getEEPROM(), QString(64, QChar(0)));
}

TEST(HeadEepromLink, BitsAreAssembledMostSignificantFirstRegisterByRegister)
{
    Link link;
    // Register 0 answers 0x4BE9: first character 'K', second code 0xE9.
    const unsigned word = 0x4BE9;
    std::vector<std::uint8_t> status;
    for (int bit = 15; bit >= 0; --bit)
        status.push_back(((word >> bit) & 1) ? 0x00 : 0x02);
    link.port.queueReads(kStatusPort, status);
    link.port.setRead(kStatusPort, 0x02);
    EXPECT_EQ(link.head.readEeprom(0), QString(QChar('K')) + QChar(0xE9));
}

TEST(HeadEepromLink, StartingWithLedOnEndsWithLedOn)
{
    Link link(0x22);
    link.port.setRead(kStatusPort, 0x02);
    link.head.getEEPROM();
    EXPECT_EQ(link.port.writesTo(kControlPort).back(), 0x22);
    EXPECT_EQ(link.state.Control, 0x22);
}

// ---- testHead ---------------------------------------------------------------

namespace {

// Status bytes for the card check followed by the 512 EEPROM samples that
// make getEEPROM return `image` (a 1 bit reads with stsDataOut clear).
std::vector<std::uint8_t> statusForImage(const QString& image)
{
    std::vector<std::uint8_t> v{0x01};
    for (QChar c : image)
        for (int bit = 7; bit >= 0; --bit)
            v.push_back(((c.unicode() >> bit) & 1) ? 0x01 : 0x03);
    return v;
}

QString padded(const char* leading)
{
    QString s = QString::fromLatin1(leading);
    return s + QString(64 - s.size(), QLatin1Char(' '));
}

std::string str(const QString& s) { return s.toStdString(); }

} // namespace

TEST(HeadTest, FailedCardCheckShows1005WithAddressAndTouchesNothing)
{
    const std::pair<std::uint16_t, const char*> cases[] = {{0x2A0, "2A0"}, {0x100, "100"}, {0x3E0, "3E0"}};
    for (const auto& [testPort, hex] : cases) {
        RecordingMessageSink sink;
        ReaderState state;
        state.base = 0x300;
        state.testBase = 0x300;
        state.rdrEEPROM = QStringLiteral("previous image");
        state.Control = 0x02;
        RecordingPort port;
        port.setRead(testPort + 2, 0xFE); // everything but stsAdcDone
        HeadLink head(state, port);

        EXPECT_EQ(head.testHead(static_cast<std::int16_t>(testPort)), 1005);
        ASSERT_EQ(sink.messages.size(), 1);
        EXPECT_EQ(str(sink.messages[0]), str(loadText(1005)) + " &H" + hex);
        EXPECT_EQ(port.accesses(), std::vector{PortAccess::read(testPort + 2, 0xFE)}); // nothing written
        EXPECT_EQ(state.status, 0xFE);
        EXPECT_EQ(state.testBase, 0x300);
        EXPECT_EQ(str(state.rdrEEPROM), "previous image");
        EXPECT_EQ(state.Control, 0x02);
    }
}

TEST(HeadTest, NoHeadGives1003WithTwoBlanksAnd1005)
{
    for (std::uint8_t level : {0x03, 0x01}) { // data-out always set (code 0) / always clear (code 255)
        RecordingMessageSink sink;
        ReaderState state;
        RecordingPort port;
        port.queueReads(0x302, {0x01});
        port.setRead(0x302, level);
        HeadLink head(state, port);

        EXPECT_EQ(head.testHead(0x300), 1003);
        ASSERT_EQ(sink.messages.size(), 1);
        EXPECT_EQ(str(sink.messages[0]), str(loadText(1003) + "  " + loadText(1005) + " &H300"));
        EXPECT_EQ(state.testBase, 0x300);
        EXPECT_EQ(state.rdrEEPROM, QString(64, QChar(level == 0x03 ? 0 : 0xFF)));
    }
}

TEST(HeadTest, OtherModelGives1004Alone)
{
    // The model is compared case-sensitively: "KALvor" is another model.
    for (const char* model : {"KALXYZ1500", "KALvor1500"}) {
        RecordingMessageSink sink;
        ReaderState state;
        RecordingPort port;
        port.queueReads(0x302, statusForImage(padded(model)));
        HeadLink head(state, port);

        EXPECT_EQ(head.testHead(0x300), 1004) << model;
        ASSERT_EQ(sink.messages.size(), 1);
        EXPECT_EQ(str(sink.messages[0]), str(loadText(1004)));
    }
}

TEST(HeadTest, LowerCaseMakersMarkIsNoKalvorHead)
{
    RecordingMessageSink sink;
    ReaderState state;
    RecordingPort port;
    port.queueReads(0x302, statusForImage(padded("kalVOR1500")));
    HeadLink head(state, port);

    EXPECT_EQ(head.testHead(0x300), 1003);
    ASSERT_EQ(sink.messages.size(), 1);
    EXPECT_EQ(str(sink.messages[0]), str(loadText(1003) + "  " + loadText(1005) + " &H300"));
}

TEST(HeadTest, KalvorHeadPassesSilentlyAndLeavesTheImage)
{
    RecordingMessageSink sink;
    ReaderState state;
    state.base = 0x300;
    state.Control = 0x02;
    RecordingPort port;
    // A record that fails the identity checks still passes the head test.
    QString image = padded("KALVOR0000x.x000999");
    image[63] = QChar(0xE9);
    port.queueReads(0x2A2, statusForImage(image));
    HeadLink head(state, port);

    EXPECT_EQ(head.testHead(0x2A0), 0);
    EXPECT_TRUE(sink.messages.isEmpty());
    EXPECT_EQ(state.rdrEEPROM, image);
    EXPECT_EQ(state.testBase, 0x2A0);
    EXPECT_EQ(state.base, 0x300);
    // Only the tested card was written, and the shadow is back where it was.
    EXPECT_TRUE(port.writesTo(0x303).empty());
    EXPECT_EQ(port.writesTo(0x2A3).size(), 2209u);
    EXPECT_EQ(state.Control, 0x02);
}
