#include "measure/ZeroCheck.h"

#include "core/SettingsStore.h"
#include "hw/IdentityRecord.h"

#include <cmath>

namespace kalvor {

QString zeroStatusText(ZeroStatus status)
{
    switch (status) {
    case ZeroStatus::Zeroing:
        return QStringLiteral("zeroing");
    case ZeroStatus::Ok:
        return QStringLiteral("ok");
    case ZeroStatus::Film:
        return QStringLiteral("film");
    case ZeroStatus::Floor:
        return QStringLiteral("floor");
    case ZeroStatus::Ceiling:
        return QStringLiteral("ceiling");
    case ZeroStatus::Flat:
        return QStringLiteral("flat");
    case ZeroStatus::Scattered:
        return QStringLiteral("scattered");
    case ZeroStatus::Dark:
        return QStringLiteral("dark");
    case ZeroStatus::Stale:
        return QStringLiteral("stale");
    }
    return {};
}

ZeroStatus checkZero(bool dosimeterSensed, const ReadingSpread& spread, int conversions, double volts,
                     std::optional<double> lastGoodZero)
{
    if (dosimeterSensed)
        return ZeroStatus::Film;
    switch (conversionStatus(spread, conversions)) {
    case ReadingStatus::Floor:
        return ZeroStatus::Floor;
    case ReadingStatus::Ceiling:
        return ZeroStatus::Ceiling;
    case ReadingStatus::Flat:
        return ZeroStatus::Flat;
    case ReadingStatus::Scattered:
        return ZeroStatus::Scattered;
    default:
        break;
    }
    if (lastGoodZero && volts < kDarkZeroRatio * *lastGoodZero)
        return ZeroStatus::Dark;
    return ZeroStatus::Ok;
}

void ZeroJudge::useHead(const QString& serial, const QString& primaryWavelength, const QString& secondaryWavelength)
{
    const std::array<QString, 2> fields{primaryWavelength, secondaryWavelength};
    std::array<QString, 2> wavelengths;
    std::array<std::optional<double>, 2> lastGood;
    for (int i = 0; i < 2; ++i) {
        if (!wavelengthInRange(fields[i]))
            continue;
        wavelengths[i] = fields[i];
        lastGood[i] = settings_.lastGoodZero(serial, fields[i]);
    }
    serial_ = serial;
    wavelengths_ = wavelengths;
    lastGood_ = lastGood;
}

ZeroStatus ZeroJudge::zeroTaken(bool secondary, bool dosimeterSensed, const ReadingSpread& spread, double volts)
{
    const int i = secondary ? 1 : 0;
    status_ = checkZero(dosimeterSensed, spread, Acquisition::kConversions, volts, lastGood_[i]);
    // Kept as stored, to four decimals; only a positive zero can be the
    // measure of a later one.
    const double kept = std::round(volts * 1e4) / 1e4;
    if (status_ == ZeroStatus::Ok && !wavelengths_[i].isEmpty() && kept > 0) {
        lastGood_[i] = kept;
        settings_.setLastGoodZero(serial_, wavelengths_[i], kept);
        settings_.sync();
    }
    return status_;
}

bool ZeroJudge::readingSensed(bool emptyBefore, bool emptyAfter, ReadingStatus conversion, double absorbance)
{
    if (status_ != ZeroStatus::Ok || !emptyBefore || !emptyAfter || conversion != ReadingStatus::Ok
        || std::fabs(absorbance) <= kStaleLimit)
        return false;
    status_ = ZeroStatus::Stale;
    return true;
}

} // namespace kalvor
