#include "app/SimulatorTopic.h"

#include "hw/sim/SimTexts.h"
#include "hw/sim/SimulatedCard.h"

namespace kalvor {

using namespace kalvor::sim;

namespace {
const QString kDosimeter = QStringLiteral("dosimeter");
const QString kHolder = QStringLiteral("holder");
const QString kFilter = QStringLiteral("filter");
const QString kLamp = QStringLiteral("lamp");
const QString kButton = QStringLiteral("button");
const QString kHead = QStringLiteral("head");
const QString kAdc = QStringLiteral("adc");
const QString kWavelength = QStringLiteral("wavelength");
const QString kLed = QStringLiteral("led");
const QString kBuzzer = QStringLiteral("buzzer");
const QString kFilm = QStringLiteral("film");

PutResult badValue(const QString& item, const QString& text, const char* expected)
{
    return {false, QStringLiteral("BAD_VALUE"),
            QStringLiteral("\"%1\" is no value for %2 (expected %3)").arg(text, item, QLatin1String(expected))};
}
} // namespace

const QStringList& SimulatorTopic::itemNames()
{
    static const QStringList names{kDosimeter, kHolder, kFilter, kLamp,       kButton,
                                   kHead,      kAdc,    kWavelength, kLed, kBuzzer, kFilm};
    return names;
}

SimulatorTopic::SimulatorTopic(SimulatedCard& card, QObject* parent)
    : LinkTopic(QStringLiteral("simulator"), itemNames(), parent), card_(card)
{
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &SimulatorTopic::refresh);
    for (const QString& item : items())
        set(item, currentText(item));
    observerId_ = card_.addChangeObserver([this] {
        if (!refreshTimer_.isActive())
            refreshTimer_.start();
    });
}

SimulatorTopic::~SimulatorTopic() { card_.removeChangeObserver(observerId_); }

QString SimulatorTopic::currentText(const QString& item) const
{
    if (item == kDosimeter || item == kFilm)
        return dosimeterText(card_.dosimeter());
    if (item == kHolder)
        return holderText(card_.holder());
    if (item == kFilter)
        return filterText(card_.filter());
    if (item == kLamp)
        return numberText(card_.lampFraction());
    if (item == kButton)
        return flagText(card_.button());
    if (item == kHead)
        return headText(card_.headConnected());
    if (item == kAdc)
        return adcText(card_.adcStuck());
    if (item == kWavelength)
        return wavelengthText(card_.wavelength());
    if (item == kLed)
        return flagText(card_.led());
    if (item == kBuzzer)
        return flagText(card_.buzzer());
    return {};
}

void SimulatorTopic::refresh()
{
    for (const QString& item : items()) {
        const QString now = currentText(item);
        if (text(item) != now)
            set(item, now);
    }
}

PutResult SimulatorTopic::put(const QString& item, const QString& text)
{
    if (!hasItem(item))
        return {false, QStringLiteral("NOT_FOUND"),
                QStringLiteral("topic %1 has no item %2").arg(name(), item)};

    if (item == kDosimeter) {
        const auto d = parseDosimeter(text);
        if (!d)
            return badValue(item, text, "an absorbance 0..10 or none");
        card_.setDosimeter(*d);
    } else if (item == kFilm) {
        const auto d = parseDosimeter(text);
        if (!d)
            return badValue(item, text, "an absorbance 0..10 or none");
        if (*d)
            card_.insertFilm(**d);
        else
            card_.setDosimeter(std::nullopt);
    } else if (item == kHolder) {
        const auto h = parseHolder(text);
        if (!h)
            return badValue(item, text, "film or filter");
        card_.setHolder(*h);
    } else if (item == kFilter) {
        const auto f = parseFilter(text);
        if (!f)
            return badValue(item, text, "none, light, medium or dark");
        card_.setFilter(*f);
    } else if (item == kLamp) {
        const auto l = parseNumber(text, 0.0, kMaxLampFraction);
        if (!l)
            return badValue(item, text, "a lamp fraction 0..2");
        card_.setLampFraction(*l);
    } else if (item == kButton) {
        const auto b = parseFlag(text);
        if (!b)
            return badValue(item, text, "0 or 1");
        card_.setButton(*b);
    } else if (item == kHead) {
        const auto h = parseHeadConnected(text);
        if (!h)
            return badValue(item, text, "connected or unplugged");
        card_.setHeadConnected(*h);
    } else if (item == kAdc) {
        const auto s = parseAdcStuck(text);
        if (!s)
            return badValue(item, text, "ok or stuck");
        card_.setAdcStuck(*s);
    } else {
        return {false, QStringLiteral("NOT_SUPPORTED"),
                QStringLiteral("item %1 of topic %2 is read-only").arg(item, name())};
    }
    set(item, currentText(item));
    return {};
}

} // namespace kalvor
