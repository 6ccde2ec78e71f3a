#include "hw/sim/SimTexts.h"

#include <cmath>

namespace kalvor::sim {

namespace {
bool is(QStringView text, const char* word)
{
    return text.trimmed().compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}
} // namespace

QString holderText(Holder holder)
{
    return holder == Holder::Film ? QStringLiteral("film") : QStringLiteral("filter");
}

QString filterText(NdFilter filter)
{
    switch (filter) {
    case NdFilter::None: return QStringLiteral("none");
    case NdFilter::Light: return QStringLiteral("light");
    case NdFilter::Medium: return QStringLiteral("medium");
    case NdFilter::Dark: return QStringLiteral("dark");
    }
    return {};
}

QString wavelengthText(Wavelength wl)
{
    return wl == Wavelength::Primary ? QStringLiteral("primary") : QStringLiteral("secondary");
}

QString numberText(double value) { return QString::number(value, 'g', 10); }

QString dosimeterText(std::optional<double> a)
{
    return a ? numberText(*a) : QStringLiteral("none");
}

QString headText(bool connected)
{
    return connected ? QStringLiteral("connected") : QStringLiteral("unplugged");
}

QString adcText(bool stuck) { return stuck ? QStringLiteral("stuck") : QStringLiteral("ok"); }

QString flagText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

std::optional<Holder> parseHolder(QStringView text)
{
    if (is(text, "film"))
        return Holder::Film;
    if (is(text, "filter"))
        return Holder::Filter;
    return std::nullopt;
}

std::optional<NdFilter> parseFilter(QStringView text)
{
    for (NdFilter f : {NdFilter::None, NdFilter::Light, NdFilter::Medium, NdFilter::Dark}) {
        if (text.trimmed().compare(filterText(f), Qt::CaseInsensitive) == 0)
            return f;
    }
    return std::nullopt;
}

std::optional<double> parseNumber(QStringView text, double min, double max)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<std::optional<double>> parseDosimeter(QStringView text)
{
    if (is(text, "none"))
        return std::optional<double>{};
    if (auto a = parseNumber(text, 0.0, kMaxDosimeterAbsorbance))
        return std::optional<double>{*a};
    return std::nullopt;
}

std::optional<bool> parseHeadConnected(QStringView text)
{
    if (is(text, "connected"))
        return true;
    if (is(text, "unplugged"))
        return false;
    return std::nullopt;
}

std::optional<bool> parseAdcStuck(QStringView text)
{
    if (is(text, "ok"))
        return false;
    if (is(text, "stuck"))
        return true;
    return std::nullopt;
}

std::optional<bool> parseFlag(QStringView text)
{
    if (is(text, "1"))
        return true;
    if (is(text, "0"))
        return false;
    return std::nullopt;
}

} // namespace kalvor::sim
