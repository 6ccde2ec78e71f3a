#pragma once
// A card that answers at once: the status register always shows the
// conversion done, and the result registers hold the same two bytes. The
// bodies live in InstantPort.cpp, so no caller can see them and every access
// stays a real virtual call, as it is in the program.
#include "hw/PortIo.h"

#include <cstdint>

namespace kalvor::bench {

class InstantPort : public PortIo {
public:
    static constexpr std::uint8_t kHigh = 0x9C; // 156 * 16 + 0x40 / 16 = count 2500
    static constexpr std::uint8_t kLow = 0x40;

    explicit InstantPort(std::uint16_t base) : base_(base) {}

    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;

    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint8_t lastWritten = 0;

private:
    std::uint16_t base_;
};

} // namespace kalvor::bench
