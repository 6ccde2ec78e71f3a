#pragma once
// Register map of the BRENIK card: four byte registers from the base address.
#include <cstdint>

namespace kalvor {

// Offsets from the base address.
constexpr int regAdcLow = 0;   // read: low byte of the last ADC result
constexpr int regAdcHigh = 1;  // read: high byte; write 0x01: start one conversion
constexpr int regStatus = 2;   // read: status bits
constexpr int regControl = 3;  // write only: control bits, shadowed in Control

// Control register bits.
constexpr std::uint8_t ctlSecondary = 0x01;      // secondary wavelength selected
constexpr std::uint8_t ctlDeselect = 0x02;       // EEPROM deselected while set
constexpr std::uint8_t ctlSecondaryPulse = 0x04; // held one settling tick after a switch to secondary
constexpr std::uint8_t ctlClock = 0x10;          // EEPROM serial clock; also the buzzer
constexpr std::uint8_t ctlData = 0x20;           // EEPROM data in (clear = 1 bit); also the LED

// Status register bits.
constexpr std::uint8_t stsAdcDone = 0x01;     // conversion complete (and card present)
constexpr std::uint8_t stsDataOut = 0x02;     // EEPROM data out: clear = 1 bit
constexpr std::uint8_t stsButton = 0x20;      // push button held
constexpr std::uint8_t stsNoDosimeter = 0x80; // clear while a dosimeter is sensed

constexpr std::uint16_t kFactoryBase = 0x300;

} // namespace kalvor
