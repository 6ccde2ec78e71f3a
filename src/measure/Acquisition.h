#pragma once
// One conversion of the card's ADC, and one reading: 1200 conversions reduced
// to the most frequent count near the top of their distribution, interpolated,
// scaled to volts, referred to the head's gain and smoothed.
#include "core/ReaderState.h"
#include "hw/PortIo.h"

#include <array>
#include <cstdint>
#include <functional>

namespace kalvor {

// Thrown after the conversion time-out, or a reading that is no finite
// number, has been handed to its hook (which runs the orderly shut-down), so
// that the reading in progress is abandoned.
struct ReadingAbandoned {};

// How the conversions of one reading lay: what tells a sound reading from one
// of a converter at its end, an unlit photometer or an unsteady input.
struct ReadingSpread {
    int lowest = 0;   // lowest count
    int highest = 0;  // highest count (m)
    int peak = 0;     // the most frequent count among the top 21
    int inWindow = 0; // conversions within the top 21 counts
    int nearPeak = 0; // conversions within kNearPeak counts of the peak, either side
};

class Acquisition {
public:
    static constexpr int kConversions = 1200;
    static constexpr int kPollLimit = 1000;
    static constexpr int kWindow = 21;
    // Half the width of the band around the peak that ReadingSpread::nearPeak
    // counts: 25 counts are 61 mV at the converter.
    static constexpr int kNearPeak = 25;

    // onTimeout runs the orderly shut-down (it is not expected to return).
    // onNotFinite does the same for a reading that is no finite number
    // (possible only with an absurd gain); it gets the value, which never
    // reaches v1.
    Acquisition(ReaderState& state, PortIo& io, std::function<void()> onTimeout,
                std::function<void(double)> onNotFinite = {})
        : s_(state), io_(io), onTimeout_(std::move(onTimeout)), onNotFinite_(std::move(onNotFinite))
    {
    }

    double getADC();
    void getVoltages();

    // The reduction step alone, on a finished histogram with highest count m:
    // returns the interpolated count.
    using Histogram = std::array<std::int16_t, 4097>;
    // `peak`, when given, receives the count the interpolation centres on.
    static double peakCount(Histogram& counters, int m, int* peak = nullptr);
    // Raw conversion value to a histogram count: halves to even, capped at 4095.
    static int toCount(double raw);

    // The spread of the last reading taken by getVoltages (any caller's).
    const ReadingSpread& lastSpread() const { return spread_; }

    // Runs when a conversion has timed out, before the time-out is reported.
    std::function<void()> timedOut;

private:
    ReaderState& s_;
    PortIo& io_;
    std::function<void()> onTimeout_;
    std::function<void(double)> onNotFinite_;
    ReadingSpread spread_;
};

} // namespace kalvor
