#include "InstantPort.h"

#include "hw/Registers.h"

namespace kalvor::bench {

std::uint8_t InstantPort::readPort(std::uint16_t port)
{
    ++reads;
    switch (port - base_) {
    case regAdcLow:
        return kLow;
    case regAdcHigh:
        return kHigh;
    case regStatus:
        return stsAdcDone; // done at once; EEPROM data out reads as 1 bits
    default:
        return 0xFF;
    }
}

void InstantPort::writePort(std::uint16_t, std::uint8_t value)
{
    ++writes;
    lastWritten = value;
}

} // namespace kalvor::bench
