#include "app/ReaderTopic.h"

#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "hw/Registers.h"
#include "measure/ReadingCheck.h"
#include "measure/ZeroCheck.h"

#include <QDateTime>

namespace kalvor {

namespace {
const QString kModel = QStringLiteral("model");
const QString kSerial = QStringLiteral("serial");
const QString kGain = QStringLiteral("gain");
const QString kWavelength = QStringLiteral("wavelength");
const QString kZero = QStringLiteral("zero");
const QString kZeroTime = QStringLiteral("zeroTime");
const QString kZeroStatus = QStringLiteral("zeroStatus");
const QString kReading = QStringLiteral("reading");
const QString kStatus = QStringLiteral("status");
const QString kDosimeter = QStringLiteral("dosimeter");
const QString kButton = QStringLiteral("button");
const QString kLed = QStringLiteral("led");
const QString kBeep = QStringLiteral("beep");

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

PutResult busy(const QString& why)
{
    return {false, QStringLiteral("BUSY"), QStringLiteral("no zero now: %1").arg(why)};
}

PutResult badValue(const QString& item, const QString& text, const QString& expected)
{
    return {false, QStringLiteral("BAD_VALUE"),
            QStringLiteral("\"%1\" is no value for %2 (expected %3)").arg(text, item, expected)};
}

// A whole decimal number (blanks around it allowed), or nothing.
std::optional<int> wholeNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9)
        return std::nullopt;
    for (QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    return t.toInt();
}

// A PUT of the LED: off ("0"), on ("1"), or lit for a time ("5000", "1ms").
struct LedPut {
    enum Kind { Off, On, Timed } kind;
    int ms = 0;
};
std::optional<LedPut> ledPut(const QString& text)
{
    QString t = text.trimmed();
    const bool unit = t.endsWith(QLatin1String("ms"));
    if (unit)
        t.chop(2);
    const std::optional<int> n = wholeNumber(t);
    if (!n || *n > ReaderTopic::kMaxLedMs)
        return std::nullopt;
    if (unit)
        return *n >= 1 ? std::optional(LedPut{LedPut::Timed, *n}) : std::nullopt;
    if (*n <= 1)
        return LedPut{*n == 1 ? LedPut::On : LedPut::Off}; // from 2 (kMinLedMs) on, a time
    return LedPut{LedPut::Timed, *n};
}
} // namespace

const QStringList& ReaderTopic::itemNames()
{
    static const QStringList names{kModel,   kSerial, kGain,      kWavelength, kZero, kZeroTime, kZeroStatus,
                                   kReading, kStatus, kDosimeter, kButton,     kLed,  kBeep};
    return names;
}

ReaderTopic::ReaderTopic(Reader& reader, QObject* parent)
    : LinkTopic(QStringLiteral("reader"), itemNames(), parent), reader_(&reader)
{
    set(kStatus, statusText(ReadingStatus::Zeroing));
    set(kZeroStatus, zeroStatusText(ZeroStatus::Zeroing));
    set(kReading, QString::number(readings_));
    set(kLed, flag(reader.state.LED));
    set(kBeep, QStringLiteral("0"));
    const QString wl = reader.data().text(item::WL);
    if (!wl.isEmpty())
        set(kWavelength, wl);

    beepTimer_.setSingleShot(true);
    beepTimer_.setTimerType(Qt::PreciseTimer); // never ends a beep early
    connect(&beepTimer_, &QTimer::timeout, this, [this] { whenHeadFree([this] { endBeep(); }); });
    ledTimer_.setSingleShot(true);
    ledTimer_.setTimerType(Qt::PreciseTimer);
    connect(&ledTimer_, &QTimer::timeout, this, [this] {
        whenHeadFree([this] {
            if (reader_ && reader_->state.LED && !ledTimer_.isActive())
                setLed(false);
        });
    });
    // The program switched both off at the old card before a change of port.
    connect(&reader, &Reader::headOutputsOff, this, [this] {
        ledTimer_.stop();
        beepTimer_.stop();
        ledOwners_.clear();
        setIfChanged(kLed, flag(false));
        setIfChanged(kBeep, QStringLiteral("0"));
    });

    connect(&reader, &Reader::identityRead, this, &ReaderTopic::onIdentityRead);
    connect(&reader, &Reader::headTested, this, &ReaderTopic::onHeadTested);
    connect(&reader, &Reader::zeroOrdered, this,
            [this] { setIfChanged(kStatus, statusText(ReadingStatus::Zeroing)); });
    connect(&reader, &Reader::zeroTaken, this, &ReaderTopic::onZeroTaken);
    connect(&reader, &Reader::readingTaken, this, &ReaderTopic::onReadingTaken);
    connect(&reader, &Reader::readingDone, this, &ReaderTopic::onReadingDone);
    connect(&reader, &Reader::converterTimedOut, this,
            [this] { setIfChanged(kStatus, statusText(ReadingStatus::Timeout)); });
    connect(&reader.data(), &LinkTopic::itemSet, this, [this](const QString& name, const ItemValue& v) {
        if (name == item::WL)
            setIfChanged(kWavelength, v.text);
    });
    reader.head.afterTransfer = [this] { runDeferred(); };
}

ReaderTopic::~ReaderTopic()
{
    if (reader_)
        reader_->head.afterTransfer = nullptr;
}

void ReaderTopic::setIfChanged(const QString& item, const QString& text)
{
    if (value(item).seq == 0 || this->text(item) != text)
        set(item, text);
}

// ---- what the reader tells ----------------------------------------------------

void ReaderTopic::onIdentityRead()
{
    const ReaderState& s = reader_->state;
    setIfChanged(kModel, s.rdrModel);
    setIfChanged(kSerial, s.rdrSN);
    setIfChanged(kGain, SettingsStore::formatDouble(s.rdrGain));
    ready_ = true;
}

void ReaderTopic::onHeadTested(bool passed)
{
    // After start the readings tell how the head is; a test in the port
    // dialog then concerns another address.
    if (!ready_)
        setIfChanged(kStatus, statusText(passed ? ReadingStatus::Zeroing : ReadingStatus::NoHead));
}

void ReaderTopic::onZeroTaken()
{
    set(kZeroStatus, zeroStatusText(reader_->zeroJudge.status()));
    set(kZero, QString::number(reader_->state.z1, 'f', 4));
    set(kZeroTime, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
}

void ReaderTopic::onReadingTaken(double absorbance)
{
    set(kReading, QString::number(++readings_));
    const ReadingSpread& spread = reader_->acquisition.lastSpread();
    readingConversion_ = conversionStatus(spread, Acquisition::kConversions);
    readingAbsorbance_ = absorbance;
    emptyBeforeReading_ = sensedEmpty_.value_or(false);
    const ReadingStatus status =
        checkReading(spread, Acquisition::kConversions, absorbance, reader_->zeroJudge.sound());
    setIfChanged(kStatus, statusText(status));
}

void ReaderTopic::onReadingDone()
{
    if (!sensing())
        return;
    sense();
    // The reading just set was taken against a zero that shows stale now.
    if (reader_ && sensedEmpty_
        && reader_->zeroJudge.readingSensed(emptyBeforeReading_, *sensedEmpty_, readingConversion_,
                                            readingAbsorbance_)) {
        set(kZeroStatus, zeroStatusText(reader_->zeroJudge.status()));
        setIfChanged(kStatus, statusText(ReadingStatus::BadZero));
    }
}

// ---- sensing --------------------------------------------------------------------

void ReaderTopic::sense()
{
    if (!ready_ || !reader_)
        return;
    const std::uint8_t status = reader_->head.readStatus(reader_->state.base);
    sensedEmpty_ = (status & stsNoDosimeter) != 0;
    setIfChanged(kDosimeter, flag(!(status & stsNoDosimeter)));
    setIfChanged(kButton, flag((status & stsButton) != 0));
}

void ReaderTopic::aboutToGet(const QString& item)
{
    if (item == kDosimeter || item == kButton)
        sense();
}

void ReaderTopic::linked(LinkClient client, const QString& item)
{
    if (item != kDosimeter && item != kButton)
        return;
    sensingLinks_[client].insert(item);
    sense(); // the link starts with the state as it is now
}

void ReaderTopic::unlinked(LinkClient client, const QString& item)
{
    const auto it = sensingLinks_.find(client);
    if (it == sensingLinks_.end())
        return;
    it->remove(item);
    if (it->isEmpty())
        sensingLinks_.erase(it);
}

void ReaderTopic::clientGone(LinkClient client)
{
    sensingLinks_.remove(client);
    if (ledOwners_.remove(client) && ledOwners_.isEmpty())
        whenHeadFree([this] {
            if (ledOwners_.isEmpty() && reader_ && reader_->state.LED)
                setLed(false);
        });
}

// ---- LED and buzzer -------------------------------------------------------------

PutResult ReaderTopic::put(const QString& item, const QString& text) { return putFrom(nullptr, item, text); }

PutResult ReaderTopic::putFrom(LinkClient client, const QString& item, const QString& text)
{
    if (!hasItem(item))
        return {false, QStringLiteral("UNKNOWN_ITEM"), QStringLiteral("topic reader has no item %1").arg(item)};
    if (item != kLed && item != kBeep && item != kZero)
        return {false, QStringLiteral("NOT_SUPPORTED"),
                QStringLiteral("item %1 of topic reader is read-only").arg(item)};
    if (!ready_ || !reader_)
        return {false, QStringLiteral("NOT_READY"),
                QStringLiteral("the reader head has not passed its test yet")};
    if (item == kZero)
        return orderZero(text);

    if (item == kLed) {
        const std::optional<LedPut> value = ledPut(text);
        if (!value)
            return badValue(item, text,
                            QStringLiteral("1 (on while connected), 0, or a time lit of %1..%2 ms, "
                                           "also written 1ms..%2ms")
                                .arg(kMinLedMs)
                                .arg(kMaxLedMs));
        if (value->kind != LedPut::Timed) {
            const bool on = value->kind == LedPut::On;
            whenHeadFree([this, on, client] {
                ledTimer_.stop();
                if (on)
                    ledOwners_.insert(client);
                setLed(on);
            });
        } else {
            whenHeadFree([this, ms = value->ms] { lightLedFor(ms); });
        }
        return {};
    }

    const std::optional<int> ms = wholeNumber(text);
    if (!ms || *ms < kMinBeepMs || *ms > kMaxBeepMs)
        return badValue(item, text,
                        QStringLiteral("a duration of %1..%2 ms").arg(kMinBeepMs).arg(kMaxBeepMs));
    whenHeadFree([this, ms = *ms] { startBeep(ms); });
    return {};
}

PutResult ReaderTopic::orderZero(const QString& text)
{
    if (text.trimmed() != QLatin1String("1"))
        return badValue(kZero, text, QStringLiteral("1, to order a zero"));
    // What keeps Setup > Zero from being chosen, or makes it wait, first:
    // none of it touches a port.
    if (reader_->zeroBusy())
        return busy(QStringLiteral("a zero is ordered or being taken"));
    if (reader_->filterCheckOpen)
        return busy(QStringLiteral("the filter check is open"));
    if (reader_->head.transferring())
        return busy(QStringLiteral("the head's memory is being read"));
    sense(); // the one status read of this request
    if (sensedEmpty_.has_value() && !*sensedEmpty_)
        return busy(QStringLiteral("a dosimeter is in the head; take it out first"));
    reader_->mnuZero_Click();
    return {};
}

void ReaderTopic::whenHeadFree(std::function<void()> change)
{
    if (reader_ && reader_->head.transferring())
        deferred_.append(std::move(change));
    else
        change();
}

void ReaderTopic::runDeferred()
{
    const QList<std::function<void()>> changes = std::exchange(deferred_, {});
    for (const auto& change : changes)
        change();
}

void ReaderTopic::setLed(bool on)
{
    if (!reader_)
        return;
    if (on) {
        reader_->head.LedOn();
    } else {
        reader_->head.LedOff();
        ledOwners_.clear();
        ledTimer_.stop();
    }
    setIfChanged(kLed, flag(on));
}

void ReaderTopic::lightLedFor(int ms)
{
    ledOwners_.clear(); // the time decides now, not a client
    setLed(true);
    ledTimer_.start(ms);
}

void ReaderTopic::startBeep(int ms)
{
    if (!reader_)
        return;
    if (!reader_->state.buzzer)
        reader_->head.buzzerOn();
    beepTimer_.start(ms); // a beep that sounds is replaced: its time starts over
    set(kBeep, QString::number(ms));
}

void ReaderTopic::endBeep()
{
    beepTimer_.stop();
    if (reader_ && reader_->state.buzzer)
        reader_->head.buzzerOff();
    setIfChanged(kBeep, QStringLiteral("0"));
}

} // namespace kalvor
