#include "measure/ReadingCheck.h"

#include "measure/Absorbance.h"

namespace kalvor {

QString statusText(ReadingStatus status)
{
    switch (status) {
    case ReadingStatus::Zeroing:
        return QStringLiteral("zeroing");
    case ReadingStatus::NoHead:
        return QStringLiteral("no-head");
    case ReadingStatus::Ok:
        return QStringLiteral("ok");
    case ReadingStatus::Floor:
        return QStringLiteral("floor");
    case ReadingStatus::Ceiling:
        return QStringLiteral("ceiling");
    case ReadingStatus::Flat:
        return QStringLiteral("flat");
    case ReadingStatus::Scattered:
        return QStringLiteral("scattered");
    case ReadingStatus::BadZero:
        return QStringLiteral("bad-zero");
    case ReadingStatus::OverRange:
        return QStringLiteral("over-range");
    case ReadingStatus::UnderRange:
        return QStringLiteral("under-range");
    case ReadingStatus::Timeout:
        return QStringLiteral("timeout");
    }
    return {};
}

ReadingStatus conversionStatus(const ReadingSpread& spread, int conversions)
{
    if (spread.peak <= 0)
        return ReadingStatus::Floor;
    if (spread.peak >= 4095)
        return ReadingStatus::Ceiling;
    if (spread.lowest == spread.highest)
        return ReadingStatus::Flat;
    if (kSteadyShareDenominator * spread.nearPeak < kSteadyShareNumerator * conversions)
        return ReadingStatus::Scattered;
    return ReadingStatus::Ok;
}

ReadingStatus checkReading(const ReadingSpread& spread, int conversions, double absorbance, bool zeroSound)
{
    const ReadingStatus conversion = conversionStatus(spread, conversions);
    if (conversion != ReadingStatus::Ok)
        return conversion;
    if (!zeroSound)
        return ReadingStatus::BadZero;
    if (absorbance > Absorbance::kDisplayLimit)
        return ReadingStatus::OverRange;
    if (absorbance < kUnderRangeLimit)
        return ReadingStatus::UnderRange;
    return ReadingStatus::Ok;
}

} // namespace kalvor
