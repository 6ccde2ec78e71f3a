// Zero and absorbance: the caption of label A, the zero cautions and the
// read timer left running.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/HeadLink.h"
#include "measure/Absorbance.h"
#include "measure/Acquisition.h"
#include "support/RecordingPort.h"

#include <gtest/gtest.h>

using namespace kalvor;
using kalvor::test::RecordingPort;

TEST(Absorbance, CaptionFormat)
{
    const std::pair<double, const char*> cases[] = {
        {0.5, " 0.500"},  {-0.5, "-0.500"},   {3.0, " 3.000"},     {3.0001, ">3.0"},    {1e9, ">3.0"},
        {0.1234, " 0.123"}, {0.0, " 0.000"}, {-0.0004, " 0.000"}, {-0.012, "-0.012"}, {-12.345, "-12.345"},
        {-1.5, "-1.500"}, {2.9996, " 3.000"},
        // Ties as the filter check rounds them: the same value, the same digits.
        {0.1235, " 0.124"}, {1.0005, " 1.001"}, {-0.0005, "-0.001"},
    };
    for (const auto& [a, text] : cases)
        EXPECT_EQ(formatAbsorbance(a).toStdString(), text) << a;
}

namespace {

constexpr std::uint16_t kBase = 0x300;

// Reader whose converter always reads count 2457 (1.0 V at gain 1), so the
// reading is 1 / rdrGain volts.
struct Reader {
    ReaderState state;
    RecordingPort port;
    HeadLink head{state, port};
    Acquisition acq{state, port, nullptr};
    std::vector<bool> timer;
    QStringList captions;
    Absorbance abs{state, acq, head,
                   AbsorbanceHooks{[this](bool on) { timer.push_back(on); },
                                   [this](const QString& t) { captions.append(t); }}};
    RecordingMessageSink sink;
    std::vector<std::size_t> conversionsAtMessage;

    Reader(double volts, bool dosimeterPresent = false)
    {
        state.base = kBase;
        state.rdrGain = 1.0 / volts;
        state.oldv1 = 1.0 / state.rdrGain; // steady: smoothing keeps the value
        port.setRead(kBase + 2, dosimeterPresent ? 0x01 : 0x81);
        port.setRead(kBase + 1, 2457 >> 4);
        port.setRead(kBase + 0, (2457 & 0xF) << 4);
        sink.onShow = [this](const QString&) { conversionsAtMessage.push_back(port.writesTo(kBase + 1).size()); };
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> v;
        for (const QString& m : sink.messages)
            v.push_back(m.toStdString());
        return v;
    }
};

std::string text(int id) { return loadText(id).toStdString(); }

} // namespace

TEST(Zero, CautionsFollowTheZeroValue)
{
    const std::pair<double, std::vector<std::string>> cases[] = {
        {0.4, {}}, {1.0, {}}, {0.3999, {text(1010)}}, {0.2, {text(1010)}}, {0.1999, {text(1011)}}};
    for (const auto& [volts, expected] : cases) {
        Reader r(volts);
        r.abs.zero();
        EXPECT_EQ(r.messages(), expected) << volts;
        EXPECT_DOUBLE_EQ(r.state.z1, volts);
    }
}

TEST(Zero, DosimeterCautionComesBeforeTheReadingAndTheLampCautionAfter)
{
    Reader r(0.1, /*dosimeterPresent=*/true);
    r.abs.zero();
    EXPECT_EQ(r.messages(), (std::vector{text(1008), text(1011)}));
    EXPECT_EQ(r.conversionsAtMessage, (std::vector<std::size_t>{0, 1200}));
    EXPECT_DOUBLE_EQ(r.state.z1, 0.1);
}

TEST(Zero, StopsThenRestartsTheReadTimerAndLeavesLabelAAlone)
{
    Reader r(1.0);
    r.abs.zero();
    EXPECT_EQ(r.timer, (std::vector<bool>{false, true}));
    EXPECT_TRUE(r.captions.isEmpty());
    EXPECT_TRUE(r.port.writesTo(kBase + 3).empty()); // no control bit touched
}

TEST(GetA, ShowsTheDropBelowZeroAndRestartsTheReadTimer)
{
    const std::pair<double, const char*> cases[] = {{1.0, " 0.500"}, {0.0, "-0.500"}, {4.0, ">3.0"}, {3.5, " 3.000"}};
    for (const auto& [z1, caption] : cases) {
        Reader r(0.5);
        r.state.z1 = z1;
        r.abs.getA();
        ASSERT_EQ(r.captions.size(), 1);
        EXPECT_EQ(r.captions[0].toStdString(), caption) << z1;
        EXPECT_EQ(r.timer, std::vector<bool>{true});
        EXPECT_EQ(r.state.z1, z1);
        EXPECT_TRUE(r.sink.messages.isEmpty());
    }
}

TEST(GetA, TimeOutPropagatesWithoutACaption)
{
    Reader r(0.5);
    r.port.setRead(kBase + 2, 0x80);
    EXPECT_THROW(r.abs.getA(), ReadingAbandoned);
    EXPECT_TRUE(r.captions.isEmpty());
    EXPECT_TRUE(r.timer.empty());
}
