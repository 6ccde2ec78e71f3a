#pragma once
// Keeps every port access inside the card's range 0x100..0x3E3, whatever base
// address the program was given: outside it, reads give 0xFF and writes are
// dropped, and the first refusal is reported once on standard error.
#include "hw/PortIo.h"

namespace kalvor {

class SafePortIo : public PortIo {
public:
    explicit SafePortIo(PortIo& inner) : inner_(inner) {}
    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;
    unsigned long refusals() const { return refusals_; }

private:
    void refuse(char kind, std::uint16_t port);
    PortIo& inner_;
    unsigned long refusals_ = 0;
};

} // namespace kalvor
