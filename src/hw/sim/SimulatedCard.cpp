#include "hw/sim/SimulatedCard.h"

#include "hw/IdentityRecord.h"

#include <algorithm>
#include <cmath>

namespace kalvor::sim {

namespace {
constexpr std::uint8_t kFloatingBus = 0xFF;
} // namespace

SimulatedCard::SimulatedCard() { setIdentity(QString::fromLatin1(kDefaultIdentity)); }

std::uint8_t SimulatedCard::readPort(std::uint16_t port)
{
    if (!cardPresent_ || port < address_ || port > address_ + 3)
        return kFloatingBus;
    switch (port - address_) {
    case regAdcLow:
        return static_cast<std::uint8_t>((result_ & 0x0F) << 4);
    case regAdcHigh:
        return static_cast<std::uint8_t>(result_ >> 4);
    case regStatus:
        return readStatus();
    default:
        // The control register is write-only; nothing drives the bus.
        return kFloatingBus;
    }
}

void SimulatedCard::writePort(std::uint16_t port, std::uint8_t value)
{
    if (!cardPresent_ || port < address_ || port > address_ + 3)
        return;
    const int offset = port - address_;
    if (offset == regAdcHigh) {
        if (value & 0x01) {
            converting_ = true;
            busyReads_ = kBusyStatusReads;
        }
        return;
    }
    if (offset != regControl)
        return;

    const std::uint8_t previous = control_;
    control_ = value;
    physics_.setWavelength((value & ctlSecondary) ? Wavelength::Secondary : Wavelength::Primary);
    if (headConnected_) {
        // The card inverts data in: ctlData clear puts a 1 on the line.
        eeprom_.drive(!(value & ctlDeselect), (value & ctlClock) != 0, !(value & ctlData));
    }
    if (value != previous)
        notify();
}

std::uint8_t SimulatedCard::readStatus()
{
    if (converting_ && !adcStuck_) {
        if (busyReads_ > 0) {
            --busyReads_;
        } else {
            // The conversion ends: latch the sample.
            converting_ = false;
            result_ = headConnected_ ? physics_.sampleCount()
                                     : HeadPhysics::countForVoltage(0.0);
            ++conversions_;
        }
    }
    return peekStatus();
}

std::uint8_t SimulatedCard::peekStatus() const
{
    std::uint8_t status = 0;
    if (!converting_)
        status |= stsAdcDone;
    // Data out is inverted on the card: clear for a 1 bit. A line that no
    // chip drives reads as a 0 bit.
    if (!headConnected_ || !eeprom_.dataOut())
        status |= stsDataOut;
    if (headConnected_ && button_)
        status |= stsButton;
    if (!headConnected_ || !physics_.dosimeterSensed())
        status |= stsNoDosimeter;
    return status;
}

void SimulatedCard::setAddress(std::uint16_t base)
{
    address_ = base;
    notify();
}

void SimulatedCard::setIdentity(const QString& leading)
{
    eeprom_.loadImage(identityImage(leading));
    bool ok = false;
    const double gain = leading.mid(10, 3).toDouble(&ok);
    if (ok && std::isfinite(gain) && gain > 0)
        physics_.setGain(gain);
    notify();
}

void SimulatedCard::setEepromImage(const QString& image)
{
    eeprom_.loadImage(image);
    notify();
}

void SimulatedCard::setEepromRaw(const QByteArray& bytes)
{
    eeprom_.loadRaw(bytes);
    notify();
}

void SimulatedCard::setDosimeter(std::optional<double> absorbance)
{
    physics_.setDosimeter(absorbance);
    notify();
}

void SimulatedCard::insertFilm(double absorbance)
{
    physics_.insertFilm(absorbance);
    notify();
}

void SimulatedCard::setHolder(Holder holder)
{
    physics_.setHolder(holder);
    notify();
}

void SimulatedCard::setFilter(NdFilter filter)
{
    physics_.setFilter(filter);
    notify();
}

void SimulatedCard::setLampFraction(double fraction)
{
    physics_.setLampFraction(fraction);
    notify();
}

void SimulatedCard::setGain(double gain)
{
    physics_.setGain(gain);
    notify();
}

void SimulatedCard::setNoiseSigma(double volts)
{
    physics_.setNoiseSigma(volts);
    notify();
}

void SimulatedCard::setSpeed(double factor)
{
    speed_ = factor;
    physics_.setSettleSeconds(HeadPhysics::kSettleSeconds / factor);
    notify();
}

void SimulatedCard::setNoiseSeed(std::uint32_t seed)
{
    physics_.seed(seed);
    notify();
}

void SimulatedCard::setButton(bool held)
{
    button_ = held;
    notify();
}

void SimulatedCard::setHeadConnected(bool connected)
{
    if (connected != headConnected_)
        eeprom_.resetLink(); // a head plugged in starts with a fresh link
    headConnected_ = connected;
    notify();
}

void SimulatedCard::setAdcStuck(bool stuck)
{
    adcStuck_ = stuck;
    notify();
}

void SimulatedCard::setCardPresent(bool present)
{
    cardPresent_ = present;
    notify();
}

int SimulatedCard::addChangeObserver(std::function<void()> observer)
{
    const int id = nextObserverId_++;
    observers_.emplace_back(id, std::move(observer));
    return id;
}

void SimulatedCard::removeChangeObserver(int id)
{
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void SimulatedCard::notify()
{
    // By index: an observer may add or remove observers while it runs.
    for (std::size_t i = 0; i < observers_.size(); ++i) {
        const auto observer = observers_[i].second;
        observer();
    }
}

} // namespace kalvor::sim
