#include "PortFloor.h"

#include "hw/Registers.h"

namespace kalvor::bench {

unsigned adcFloor(PortIo& io, std::uint16_t base, int conversions)
{
    const auto at = [base](int offset) { return static_cast<std::uint16_t>(base + offset); };
    unsigned sum = 0;
    for (int n = 0; n < conversions; ++n) {
        io.writePort(at(regAdcHigh), 0x01);
        sum += io.readPort(at(regStatus));
        sum += io.readPort(at(regAdcHigh));
        sum += io.readPort(at(regAdcLow));
    }
    return sum;
}

unsigned portCallFloor(PortIo& io, std::uint16_t base, int writes, int reads)
{
    const auto control = static_cast<std::uint16_t>(base + regControl);
    const auto status = static_cast<std::uint16_t>(base + regStatus);
    unsigned sum = 0;
    for (int n = 0; n < writes; ++n)
        io.writePort(control, static_cast<std::uint8_t>(n));
    for (int n = 0; n < reads; ++n)
        sum += io.readPort(status);
    return sum;
}

} // namespace kalvor::bench
