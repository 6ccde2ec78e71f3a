#include "hw/SafePortIo.h"

#include <cstdio>

namespace kalvor {

void SafePortIo::refuse(char kind, std::uint16_t port)
{
    if (refusals_++ == 0) {
        std::fprintf(stderr,
                     "KALVOR: refused a port %s at 0x%X: outside the card's range 0x100..0x3E3 "
                     "(is the stored \"Port\" setting a card address?). Further refusals are not reported.\n",
                     kind == 'R' ? "read" : "write", unsigned(port));
        std::fflush(stderr);
    }
}

std::uint8_t SafePortIo::readPort(std::uint16_t port)
{
    if (!isCardPort(port)) {
        refuse('R', port);
        return 0xFF;
    }
    return inner_.readPort(port);
}

void SafePortIo::writePort(std::uint16_t port, std::uint8_t value)
{
    if (!isCardPort(port)) {
        refuse('W', port);
        return;
    }
    inner_.writePort(port, value);
}

} // namespace kalvor
