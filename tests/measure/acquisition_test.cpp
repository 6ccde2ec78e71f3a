// One conversion and one reading against a scripted ADC.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "measure/Acquisition.h"
#include "measure/ReadingCheck.h"
#include "support/RecordingPort.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace kalvor;
using kalvor::test::PortAccess;
using kalvor::test::RecordingPort;

namespace {

constexpr std::uint16_t kBase = 0x300;

// A card whose converter returns the given raw values (multiples of 1/16) in turn.
struct ScriptedAdc {
    ReaderState state;
    RecordingPort port;
    int shutdowns = 0;
    Acquisition acq{state, port, [this] { ++shutdowns; }};

    ScriptedAdc()
    {
        state.base = kBase;
        state.rdrGain = 1.0;
        state.oldv1 = -100; // far away: no smoothing unless a test asks for it
        port.setRead(kBase + 2, 0x01);
    }
    void queue(const std::vector<double>& raws)
    {
        std::vector<std::uint8_t> hi, lo;
        for (double raw : raws) {
            const int sixteenths = static_cast<int>(std::lround(raw * 16));
            hi.push_back(static_cast<std::uint8_t>(sixteenths >> 8));
            lo.push_back(static_cast<std::uint8_t>(sixteenths & 0xFF));
        }
        port.queueReads(kBase + 1, hi);
        port.queueReads(kBase + 0, lo);
    }
    // n conversions at each of the given counts, 1200 in all.
    void counts(const std::vector<std::pair<double, int>>& spread)
    {
        std::vector<double> raws;
        for (const auto& [raw, n] : spread)
            raws.insert(raws.end(), n, raw);
        ASSERT_EQ(raws.size(), 1200u);
        queue(raws);
    }
};

// The interpolated count, read back from the volts at gain 1.
double countOf(double volts) { return (volts + 5.0) * 409.5; }

} // namespace

TEST(Acquisition, OneConversionIsWriteThenPollThenHighThenLow)
{
    ScriptedAdc adc;
    adc.port.queueReads(kBase + 2, {0x00, 0x00});
    adc.port.queueReads(kBase + 1, {0x99});
    adc.port.queueReads(kBase + 0, {0x98});
    EXPECT_DOUBLE_EQ(adc.acq.getADC(), 0x99 * 16 + 9.5);
    EXPECT_EQ(adc.port.accesses(),
              (std::vector{PortAccess::write(0x301, 0x01), PortAccess::read(0x302, 0x00),
                           PortAccess::read(0x302, 0x00), PortAccess::read(0x302, 0x01),
                           PortAccess::read(0x301, 0x99), PortAccess::read(0x300, 0x98)}));
}

TEST(Acquisition, AllConversionsAtOneCountGiveExactlyThatCount)
{
    for (int c : {21, 1000, 2048, 2457, 4095}) {
        Acquisition::Histogram h{};
        h[c] = 1200;
        EXPECT_EQ(Acquisition::peakCount(h, c), double(c)) << c;

        ScriptedAdc adc;
        adc.counts({{double(c), 1200}});
        adc.acq.getVoltages();
        EXPECT_NEAR(countOf(adc.state.v1), c, 1e-9) << c;
        EXPECT_EQ(adc.port.writesTo(0x301).size(), 1200u);
    }
    ScriptedAdc one;
    one.counts({{2457, 1200}});
    one.acq.getVoltages();
    EXPECT_EQ(one.state.v1, 1.0);
    EXPECT_EQ(one.state.oldv1, 1.0);

    ScriptedAdc mid;
    mid.counts({{2048, 1200}});
    mid.acq.getVoltages();
    EXPECT_NEAR(mid.state.v1, 0.0012210012, 1e-9);

    ScriptedAdc gain;
    gain.state.rdrGain = 1.9;
    gain.counts({{2457, 1200}});
    gain.acq.getVoltages();
    EXPECT_DOUBLE_EQ(gain.state.v1, 1.0 / 1.9);
}

TEST(Acquisition, RawValuesRoundHalvesToEvenAndCapAt4095)
{
    EXPECT_EQ(Acquisition::toCount(4095.5), 4095);
    EXPECT_EQ(Acquisition::toCount(4095.9375), 4095);
    EXPECT_EQ(Acquisition::toCount(2047.5), 2048);
    EXPECT_EQ(Acquisition::toCount(2046.5), 2046);
    EXPECT_EQ(Acquisition::toCount(2046.5625), 2047);
    EXPECT_EQ(Acquisition::toCount(0.4375), 0);

    // In a whole reading: the top raw values are counted at 4095.
    ScriptedAdc top;
    top.counts({{4095.5, 600}, {4095.9375, 600}});
    top.acq.getVoltages();
    EXPECT_DOUBLE_EQ(top.state.v1, 5.0);

    ScriptedAdc halves;
    halves.counts({{2047.5, 1200}});
    halves.acq.getVoltages();
    EXPECT_DOUBLE_EQ(countOf(halves.state.v1), 2048);
}

TEST(Acquisition, PeakIsInterpolatedOverItsNeighbours)
{
    ScriptedAdc adc;
    adc.counts({{999, 200}, {1000, 600}, {1001, 400}});
    adc.acq.getVoltages();
    EXPECT_NEAR(countOf(adc.state.v1), 1000 + 200.0 / 1200, 1e-9);
}

TEST(Acquisition, EachReadingLeavesTheSpreadOfItsConversions)
{
    ScriptedAdc adc;
    // 700 below the top 21 counts, the peak at 1000, the top at 1010.
    adc.counts({{500, 700}, {999, 100}, {1000, 300}, {1010, 100}});
    adc.acq.getVoltages();
    const ReadingSpread s = adc.acq.lastSpread();
    EXPECT_EQ(s.lowest, 500);
    EXPECT_EQ(s.highest, 1010);
    EXPECT_EQ(s.peak, 1000);
    EXPECT_EQ(s.inWindow, 500);
    EXPECT_EQ(s.nearPeak, 500); // 975..1025

    adc.counts({{4095.5, 1200}}); // the next reading replaces it
    adc.acq.getVoltages();
    EXPECT_EQ(adc.acq.lastSpread().lowest, 4095);
    EXPECT_EQ(adc.acq.lastSpread().peak, 4095);
    EXPECT_EQ(adc.acq.lastSpread().inWindow, 1200);
    EXPECT_EQ(adc.acq.lastSpread().nearPeak, 1200);
}

TEST(Acquisition, TwoClustersFarApartAreScattered)
{
    ScriptedAdc adc;
    adc.counts({{1000, 600}, {1001, 100}, {1400, 500}});
    adc.acq.getVoltages();
    EXPECT_EQ(adc.acq.lastSpread().nearPeak, 500);
    EXPECT_EQ(conversionStatus(adc.acq.lastSpread(), Acquisition::kConversions), ReadingStatus::Scattered);
}

TEST(Acquisition, PeakIsChosenAmongTheTop21CountsOnly)
{
    struct Case {
        const char* what;
        std::vector<std::pair<double, int>> spread;
        double count;
    };
    const Case cases[] = {
        {"tie: the higher count wins", {{1000, 600}, {1010, 600}}, 1010},
        {"single outlier more than 20 above", {{1000, 1199}, {1030, 1}}, 1030},
        {"main cluster more than 20 below the maximum", {{1000, 1000}, {1025, 150}, {1040, 50}}, 1025},
        {"cluster at exactly max - 20 is inside", {{1000, 1199}, {1020, 1}}, 1000},
        {"cluster at max - 21 is outside", {{999, 1199}, {1020, 1}}, 1020},
    };
    for (const Case& c : cases) {
        ScriptedAdc adc;
        adc.counts(c.spread);
        adc.acq.getVoltages();
        EXPECT_NEAR(countOf(adc.state.v1), c.count, 1e-9) << c.what;
    }
}

TEST(Acquisition, LowReadingsStayFiniteAndWithinTheCountsSeen)
{
    struct Case {
        std::vector<std::pair<double, int>> spread;
        double low, high;
    };
    const Case cases[] = {
        {{{5, 1200}}, 5, 5},
        {{{0, 1200}}, 0, 0},
        {{{0, 600}, {1, 600}}, 0, 1},
        {{{0, 1}, {1, 1199}}, 0, 1},
        {{{3, 700}, {20, 500}}, 3, 20},
    };
    for (const Case& c : cases) {
        ScriptedAdc adc;
        adc.counts(c.spread);
        adc.acq.getVoltages();
        const double count = countOf(adc.state.v1);
        ASSERT_TRUE(std::isfinite(adc.state.v1));
        EXPECT_GE(count, c.low - 1e-9);
        EXPECT_LE(count, c.high + 1e-9);
    }
}

TEST(Acquisition, SmoothingHalvesSmallStepsOnly)
{
    // Count 2457 reads 1.0 V at gain 1.
    const std::pair<double, double> cases[] = {
        {0.990, 0.995}, {1.010, 1.005}, {0.9801, 0.99005}, {0.9799, 1.0}, {0.970, 1.0}, {1.030, 1.0}};
    for (const auto& [old, expected] : cases) {
        ScriptedAdc adc;
        adc.state.oldv1 = old;
        adc.counts({{2457, 1200}});
        adc.acq.getVoltages();
        EXPECT_NEAR(adc.state.v1, expected, 1e-12) << old;
        EXPECT_EQ(adc.state.oldv1, adc.state.v1);
    }
    // The smoothed value is the reference of the next reading.
    ScriptedAdc adc;
    adc.state.oldv1 = 0.990;
    adc.counts({{2457, 1200}});
    adc.acq.getVoltages();
    adc.counts({{2457, 1200}});
    adc.acq.getVoltages();
    EXPECT_NEAR(adc.state.v1, (0.995 + 1.0) / 2, 1e-12);
}

TEST(Acquisition, CardThatNeverFinishesIsReportedAndTheReadingAbandoned)
{
    RecordingMessageSink sink;
    ScriptedAdc adc;
    adc.port.setRead(kBase + 2, 0xFE);
    int messagesWhenShutDown = -1;
    int messagesWhenTimedOut = -1;
    Acquisition acq(adc.state, adc.port, [&] { messagesWhenShutDown = int(sink.messages.size()); });
    acq.timedOut = [&] { messagesWhenTimedOut = int(sink.messages.size()); };

    EXPECT_THROW(acq.getVoltages(), ReadingAbandoned);
    EXPECT_EQ(adc.port.writesTo(0x301), std::vector<std::uint8_t>{0x01});
    EXPECT_EQ(adc.port.readsFrom(0x302).size(), 1000u);
    EXPECT_EQ(adc.port.accesses().size(), 1001u); // nothing at base+0 or base+1
    ASSERT_EQ(sink.messages.size(), 1);
    EXPECT_EQ(sink.messages[0].toStdString(),
              (loadText(1007) + loadText(1000) + QStringLiteral("1007-A")).toStdString());
    EXPECT_EQ(messagesWhenShutDown, 1); // the shut-down runs after the box is closed
    EXPECT_EQ(messagesWhenTimedOut, 0); // the time-out is told before the box opens
}

TEST(Acquisition, ConversionFinishingOnThe1000thPollIsNoTimeout)
{
    RecordingMessageSink sink;
    ScriptedAdc adc;
    adc.port.queueReads(kBase + 2, std::vector<std::uint8_t>(999, 0x00));
    adc.port.queueReads(kBase + 1, {0x80});
    adc.port.queueReads(kBase + 0, {0x00});
    EXPECT_DOUBLE_EQ(adc.acq.getADC(), 2048);
    EXPECT_EQ(adc.port.readsFrom(0x302).size(), 1000u);
    EXPECT_TRUE(sink.messages.isEmpty());
    EXPECT_EQ(adc.shutdowns, 0);
}

TEST(Acquisition, ReadingThatIsNoFiniteNumberNeverReachesTheState)
{
    // 4.0 V at the converter over gains so small that the volts overflow, or
    // come so close that the difference of two readings would.
    for (double gain : {1e-320, 3e-308}) {
        ScriptedAdc adc;
        adc.state.rdrGain = gain;
        adc.state.v1 = 0.25;
        adc.state.oldv1 = 0.25;
        std::vector<double> seen;
        Acquisition acq{adc.state, adc.port, [] {}, [&seen](double v) { seen.push_back(v); }};
        adc.counts({{countOf(4.0), 1200}});
        EXPECT_THROW(acq.getVoltages(), ReadingAbandoned) << gain;
        ASSERT_EQ(seen.size(), 1u) << gain;
        EXPECT_EQ(adc.state.v1, 0.25) << gain;
        EXPECT_EQ(adc.state.oldv1, 0.25) << gain;
    }
}
