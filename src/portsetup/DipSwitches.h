#pragma once
// The seven address DIP switches of the BRENIK card. Switch index i (0..6,
// left to right on screen) is board number 9 - i and carries address bit
// i + 3. A switch that is on (slider raised up) leaves its bit 0; off sets it.
#include <QString>
#include <array>
#include <cstdint>

namespace kalvor {

class DipSwitches {
public:
    static constexpr int count = 7;
    static constexpr std::int16_t minPort = 0x100;
    static constexpr std::int16_t maxPort = 0x3E0;
    static constexpr std::int16_t defaultPort = 0x300;
    static constexpr std::int16_t spinStep = 8;

    static constexpr std::int16_t weight(int index) { return static_cast<std::int16_t>(8 << index); }
    static constexpr int boardNumber(int index) { return 9 - index; }

    DipSwitches() = default;  // all on: address 0

    // showSwitches: the switch settings that select `address`. Bits outside
    // 3..9 have no switch and are ignored.
    static DipSwitches fromAddress(std::int16_t address);
    // readSwitches: the address the switches select (a multiple of 8, 0..0x3F8).
    std::int16_t address() const;

    bool isOn(int index) const { return on_.at(index); }
    void setOn(int index, bool on) { on_.at(index) = on; }

    bool operator==(const DipSwitches&) const = default;

private:
    std::array<bool, count> on_{true, true, true, true, true, true, true};
};

// Only addresses in 0x100..0x3E0 may be tested and accepted.
constexpr bool isTestablePort(std::int16_t address)
{
    return address >= DipSwitches::minPort && address <= DipSwitches::maxPort;
}

// One click of the spin control: +8 (up) or -8 (down), clamped to the
// testable range. Worked in int, so a hand-edited 32767 steps to 0x3E0.
std::int16_t stepPort(std::int16_t address, bool up);

// Upper-case hexadecimal without prefix or leading zeros: 768 -> "300",
// 0 -> "0". A negative value shows its 16-bit pattern (-8 -> "FFF8").
QString portText(std::int16_t address);

} // namespace kalvor
