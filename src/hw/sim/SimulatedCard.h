#pragma once
// A BRENIK card with a KALVOR head cabled to it, answering port accesses the
// way the hardware does: four registers at the DIP-switch address, a floating
// bus (0xFF) everywhere else. Faults can be switched on: head unplugged, ADC
// stuck, card removed.
#include "hw/PortIo.h"
#include "hw/Registers.h"
#include "hw/sim/Eeprom93C46.h"
#include "hw/sim/HeadPhysics.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kalvor::sim {

class SimulatedCard : public PortIo {
public:
    static constexpr std::uint16_t kDefaultAddress = 0x300;
    // Status reads that show a conversion still busy before stsAdcDone sets.
    static constexpr int kBusyStatusReads = 3;
    static constexpr const char* kDefaultIdentity = "KALVOR15001.9510600";

    SimulatedCard();

    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;

    // --- Configuration; every setter tells the change observers. ---
    void setAddress(std::uint16_t base);
    std::uint16_t address() const { return address_; }
    // Identity record from its leading characters (blank padded to 64). A gain
    // field (characters 11..13) holding a positive number becomes the head's gain.
    void setIdentity(const QString& leading);
    // The whole 64-character image as the reader software reads it back.
    void setEepromImage(const QString& image);
    // The chip's 128 bytes, register r = bytes 2r and 2r+1.
    void setEepromRaw(const QByteArray& bytes);
    void setDosimeter(std::optional<double> absorbance);
    // A film slid in by hand: sensed at once, settled within about a second.
    void insertFilm(double absorbance);
    void setHolder(Holder holder);
    void setFilter(NdFilter filter);
    void setLampFraction(double fraction);
    void setGain(double gain);
    void setNoiseSigma(double volts);
    void setNoiseSeed(std::uint32_t seed);
    void setButton(bool held);
    void setHeadConnected(bool connected);
    void setAdcStuck(bool stuck);
    void setCardPresent(bool present);
    // A simulation `factor` times faster than life (1 = as life, up to 20):
    // a film comes into place that much sooner; the program's reading cycle
    // is to follow (speed()).
    void setSpeed(double factor);
    double speed() const { return speed_; }

    std::optional<double> dosimeter() const { return physics_.dosimeter(); }
    Holder holder() const { return physics_.holder(); }
    NdFilter filter() const { return physics_.filter(); }
    double lampFraction() const { return physics_.lampFraction(); }
    bool button() const { return button_; }
    bool headConnected() const { return headConnected_; }
    bool adcStuck() const { return adcStuck_; }
    bool cardPresent() const { return cardPresent_; }
    const HeadPhysics& physics() const { return physics_; }
    // The clock a film settles by (seconds); tests put in their own.
    void setClock(std::function<double()> seconds) { physics_.setClock(std::move(seconds)); }
    const Eeprom93C46& eeprom() const { return eeprom_; }

    // --- Outputs, as last written to the control register. ---
    std::uint8_t control() const { return control_; }
    bool led() const { return (control_ & ctlData) != 0; }
    bool buzzer() const { return (control_ & ctlClock) != 0; }
    Wavelength wavelength() const { return physics_.wavelength(); }
    // The status byte the next read would show (no side effects).
    std::uint8_t peekStatus() const;
    std::uint64_t conversions() const { return conversions_; }

    // Observers run after every configuration change and after every control
    // write that changes the control byte (not on ADC or status traffic).
    int addChangeObserver(std::function<void()> observer);
    void removeChangeObserver(int id);

private:
    void notify();
    std::uint8_t readStatus();

    HeadPhysics physics_;
    Eeprom93C46 eeprom_;
    std::uint16_t address_ = kDefaultAddress;
    bool cardPresent_ = true;
    double speed_ = 1.0;
    bool headConnected_ = true;
    bool adcStuck_ = false;
    bool button_ = false;
    std::uint8_t control_ = 0;
    bool converting_ = false;
    int busyReads_ = 0;
    int result_ = 0; // last 12-bit conversion result
    std::uint64_t conversions_ = 0;
    std::vector<std::pair<int, std::function<void()>>> observers_;
    int nextObserverId_ = 1;
};

} // namespace kalvor::sim
