#include "portsetup/DipSwitches.h"

#include "hw/HeadLink.h"

#include <algorithm>

namespace kalvor {

DipSwitches DipSwitches::fromAddress(std::int16_t address)
{
    DipSwitches s;
    for (int i = 0; i < count; ++i)
        s.on_[i] = (address & weight(i)) == 0;
    return s;
}

std::int16_t DipSwitches::address() const
{
    int result = 0;
    for (int i = 0; i < count; ++i) {
        if (!on_[i])
            result += weight(i);
    }
    return static_cast<std::int16_t>(result);
}

std::int16_t stepPort(std::int16_t address, bool up)
{
    const int next = int(address) + (up ? DipSwitches::spinStep : -DipSwitches::spinStep);
    return static_cast<std::int16_t>(std::clamp(next, int(DipSwitches::minPort), int(DipSwitches::maxPort)));
}

QString portText(std::int16_t address)
{
    return hexAddress(static_cast<std::uint16_t>(address));
}

} // namespace kalvor
