#include "hw/sim/SimOptions.h"

#include "hw/sim/SimTexts.h"

#include <QList>

namespace kalvor::sim {

namespace {

QString badValue(QStringView key, QStringView value, const char* expected)
{
    return QStringLiteral("bad value \"%1\" for simulate option %2 (expected %3)")
        .arg(value.toString(), key.toString(), QLatin1String(expected));
}

// Returns an error text, or an empty one when the pair was taken.
QString take(QStringView key, QStringView value, SimOptions& o)
{
    if (key == u"address") {
        bool ok = false;
        const uint a = value.trimmed().toUInt(&ok, 16);
        if (!ok || a < 0x100 || a > 0x3E0 || a % 8 != 0)
            return badValue(key, value, "a hexadecimal card address 100..3E0");
        o.address = static_cast<std::uint16_t>(a);
    } else if (key == u"identity") {
        const QString text = value.toString();
        if (text.size() > 64)
            return badValue(key, value, "at most 64 characters");
        for (QChar c : text) {
            if (c.unicode() > 0xFF)
                return badValue(key, value, "Latin-1 characters");
        }
        o.identity = text;
    } else if (key == u"dosimeter") {
        const auto d = parseDosimeter(value);
        if (!d)
            return badValue(key, value, "an absorbance 0..10 or none");
        o.dosimeter = *d;
    } else if (key == u"holder") {
        const auto h = parseHolder(value);
        if (!h)
            return badValue(key, value, "film or filter");
        o.holder = *h;
    } else if (key == u"filter") {
        const auto f = parseFilter(value);
        if (!f)
            return badValue(key, value, "none, light, medium or dark");
        o.filter = *f;
    } else if (key == u"lamp") {
        const auto l = parseNumber(value, 0.0, kMaxLampFraction);
        if (!l)
            return badValue(key, value, "a lamp fraction 0..2");
        o.lamp = *l;
    } else if (key == u"seed") {
        bool ok = false;
        const uint s = value.trimmed().toUInt(&ok, 10);
        if (!ok)
            return badValue(key, value, "an unsigned 32-bit number");
        o.seed = s;
    } else if (key == u"head") {
        const auto h = parseHeadConnected(value);
        if (!h)
            return badValue(key, value, "connected or unplugged");
        o.headConnected = *h;
    } else if (key == u"adc") {
        const auto s = parseAdcStuck(value);
        if (!s)
            return badValue(key, value, "ok or stuck");
        o.adcStuck = *s;
    } else if (key == u"noise") {
        const auto n = parseNumber(value, 0.0, kMaxNoiseVolts);
        if (!n)
            return badValue(key, value, "a noise level 0..1 volts");
        o.noise = *n;
    } else if (key == u"speed") {
        const auto f = parseNumber(value, 1.0, 20.0);
        if (!f)
            return badValue(key, value, "a factor 1..20");
        o.speed = *f;
    } else if (key == u"card") {
        if (value.trimmed().compare(u"present", Qt::CaseInsensitive) == 0)
            o.cardPresent = true;
        else if (value.trimmed().compare(u"removed", Qt::CaseInsensitive) == 0)
            o.cardPresent = false;
        else
            return badValue(key, value, "present or removed");
    } else {
        return QStringLiteral("unknown simulate option \"%1\"").arg(key.toString());
    }
    return {};
}

} // namespace

SimOptionsParse parseSimOptions(QStringView text)
{
    SimOptionsParse result;
    constexpr QStringView prefix = u"--simulate=";
    if (text.startsWith(prefix))
        text = text.mid(prefix.size());
    else if (text == u"--simulate")
        text = {};
    if (text.trimmed().isEmpty())
        return result;

    for (QStringView pair : text.split(u',')) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq <= 0) {
            result.error = QStringLiteral("simulate option \"%1\" is not KEY=VALUE").arg(pair.toString());
            return result;
        }
        const QString key = pair.left(eq).trimmed().toString().toLower();
        const QString error = take(key, pair.mid(eq + 1), result.options);
        if (!error.isEmpty()) {
            result.error = error;
            return result;
        }
    }
    return result;
}

void applySimOptions(const SimOptions& o, SimulatedCard& card)
{
    card.setAddress(o.address);
    card.setIdentity(o.identity);
    card.setDosimeter(o.dosimeter);
    card.setHolder(o.holder);
    card.setFilter(o.filter);
    card.setLampFraction(o.lamp);
    card.setNoiseSigma(o.noise);
    card.setNoiseSeed(o.seed);
    card.setHeadConnected(o.headConnected);
    card.setAdcStuck(o.adcStuck);
    card.setCardPresent(o.cardPresent);
    card.setSpeed(o.speed);
}

} // namespace kalvor::sim
