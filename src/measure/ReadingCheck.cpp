#include "measure/ReadingCheck.h"

#include "measure/Absorbance.h"

namespace kalvor {

QString statusText(ReadingStatus status)
{
    switch (status) {
    case ReadingStatus::Zeroing:
        return QStringLiteral("zeroing");
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
    case ReadingStatus::OverRange:
        return QStringLiteral("over-range");
    case ReadingStatus::Timeout:
        return QStringLiteral("timeout");
    }
    return {};
}

ReadingStatus checkReading(const ReadingSpread& spread, int conversions, double absorbance)
{
    if (spread.peak <= 0)
        return ReadingStatus::Floor;
    if (spread.peak >= 4095)
        return ReadingStatus::Ceiling;
    if (spread.lowest == spread.highest)
        return ReadingStatus::Flat;
    if (2 * spread.inWindow < conversions)
        return ReadingStatus::Scattered;
    if (absorbance > Absorbance::kDisplayLimit)
        return ReadingStatus::OverRange;
    return ReadingStatus::Ok;
}

} // namespace kalvor
