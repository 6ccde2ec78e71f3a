#include "measure/Acquisition.h"

#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "hw/HeadLink.h"
#include "hw/Registers.h"

#include <QtGlobal>
#include <cmath>
#include <limits>

namespace kalvor {

double Acquisition::getADC()
{
    io_.writePort(HeadLink::port(s_.base, regAdcHigh), 0x01);
    int failed = 0;
    while (!(io_.readPort(HeadLink::port(s_.base, regStatus)) & stsAdcDone)) {
        if (++failed >= kPollLimit) {
            if (timedOut)
                timedOut();
            showMessage(loadText(1007) + loadText(1000) + QStringLiteral("1007-A"));
            if (onTimeout_)
                onTimeout_();
            throw ReadingAbandoned{};
        }
    }
    const std::uint8_t hi = io_.readPort(HeadLink::port(s_.base, regAdcHigh));
    const std::uint8_t lo = io_.readPort(HeadLink::port(s_.base, regAdcLow));
    return hi * 16.0 + lo / 16.0;
}

int Acquisition::toCount(double raw)
{
    const int count = static_cast<int>(std::nearbyint(raw)); // default rounding: halves to even
    return count > 4095 ? 4095 : count;
}

double Acquisition::peakCount(Histogram& counters, int m, int* peak)
{
    counters[m + 1] = 0;
    // The peak among the 21 counts m-20..m (only counts that exist); ties go to the higher count.
    int p = m;
    const int lowest = m - (kWindow - 1) < 0 ? 0 : m - (kWindow - 1);
    for (int i = m - 1; i >= lowest; --i)
        if (counters[i] > counters[p])
            p = i;
    if (peak)
        *peak = p;
    const double below = p > 0 ? counters[p - 1] : 0.0;
    const double at = counters[p];
    const double above = counters[p + 1];
    return (above * (p + 1) + at * p + below * (p - 1)) / (at + above + below);
}

void Acquisition::getVoltages()
{
    if (!(s_.rdrGain > 0))
        qFatal("KALVOR: the head gain is %g; a reading needs a positive gain", s_.rdrGain);
    Histogram counters{};
    int m = 0;
    int lowest = 4095;
    for (int n = 0; n < kConversions; ++n) {
        const int count = toCount(getADC());
        ++counters[count];
        if (count > m)
            m = count;
        if (count < lowest)
            lowest = count;
    }
    int inWindow = 0;
    for (int i = m; i >= 0 && i > m - kWindow; --i)
        inWindow += counters[i];
    int p = m;
    const double c = peakCount(counters, m, &p);
    int nearPeak = 0;
    for (int i = p - kNearPeak < 0 ? 0 : p - kNearPeak, top = p + kNearPeak > m ? m : p + kNearPeak; i <= top; ++i)
        nearPeak += counters[i];
    spread_ = {lowest, m, p, inWindow, nearPeak};
    const double x = (c / 409.5 - 5.0) / s_.rdrGain;
    const double v = std::fabs(x - s_.oldv1) < 0.02 ? (s_.oldv1 + x) / 2.0 : x;
    // Half the largest double at most, so that the difference of two readings
    // (an absorbance, a filter result) is finite too.
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<double>::max() / 2) {
        if (onNotFinite_)
            onNotFinite_(v);
        throw ReadingAbandoned{};
    }
    s_.v1 = v;
    s_.oldv1 = s_.v1;
}

} // namespace kalvor
