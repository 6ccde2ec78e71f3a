#pragma once
// Byte access to the BRENIK card's I/O ports. Every port access of the program
// goes through one of these; which backend is used is decided once at start.
#include <cstdint>

namespace kalvor {

class PortIo {
public:
    virtual ~PortIo() = default;
    // Returns the byte the card presents at that address; never fails, never blocks.
    virtual std::uint8_t readPort(std::uint16_t port) = 0;
    // The byte is latched by the card before the call returns; never fails.
    virtual void writePort(std::uint16_t port, std::uint8_t value) = 0;
};

// The card's range: base addresses 0x100..0x3E0 plus offsets 0..3.
constexpr std::uint16_t kFirstCardPort = 0x100;
constexpr std::uint16_t kLastCardPort = 0x3E3;

inline bool isCardPort(int port) { return port >= kFirstCardPort && port <= kLastCardPort; }

} // namespace kalvor
