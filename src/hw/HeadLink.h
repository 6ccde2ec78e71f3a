#pragma once
// The main window's head operations: the control register write-through, the
// three-wire link to the head's 93C46 EEPROM, the head test and the head's
// simple signals. All of it works on the reader state and one PortIo.
#include "core/ReaderState.h"
#include "hw/PortIo.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace kalvor {

class HeadLink {
public:
    HeadLink(ReaderState& state, PortIo& io) : s_(state), io_(io) {}

    ReaderState& state() { return s_; }
    PortIo& io() { return io_; }

    // Control register: store in the shadow, then write base + 3.
    void writeControl(std::int16_t base, std::uint8_t value);
    void setControlBits(std::int16_t base, std::uint8_t mask) { writeControl(base, s_.Control | mask); }
    void clearControlBits(std::int16_t base, std::uint8_t mask)
    {
        writeControl(base, static_cast<std::uint8_t>(s_.Control & ~mask));
    }
    std::uint8_t readStatus(std::int16_t base) { return io_.readPort(port(base, 2)); }

    // EEPROM link, at testBase.
    void bumpSK();
    void sendByte(std::uint8_t b);
    QChar getByte();
    void sendOpcode(std::uint8_t code);
    QString readEeprom(int reg);
    QString getEEPROM();
    // True while getEEPROM runs: the control byte is the transfer's until it ends.
    bool transferring() const { return transfers_ > 0; }
    // Runs each time getEEPROM has ended and put the control byte back.
    std::function<void()> afterTransfer;

    // Card and head check at testPort: 0, or the id of the message it showed.
    int testHead(std::int16_t testPort);
    // Runs with the result of each testHead once its port accesses are done,
    // before its message shows.
    std::function<void(int result)> tested;

    // Head signals, at base.
    bool present();
    bool pushButton();
    void LedOn();
    void LedOff();
    void buzzerOn();
    void buzzerOff();

    // Shut-down: 0 to the control register at base, shadow unchanged.
    // Never written while base is 0 (no card known).
    void clearControlRegister();

    // base + offset as the 16-bit port address.
    static std::uint16_t port(std::int16_t base, int offset)
    {
        return static_cast<std::uint16_t>(static_cast<std::uint16_t>(base) + offset);
    }

private:
    // The check alone: the result, and in `message` what to show for it.
    int probeHead(std::int16_t testPort, QString* message);

    ReaderState& s_;
    PortIo& io_;
    int transfers_ = 0;
};

// Hexadecimal text form of an address: upper case, no leading zeros, no prefix.
QString hexAddress(int address);

} // namespace kalvor
