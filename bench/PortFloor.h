#pragma once
// The floors of the port-bound benchmarks: the same number of virtual port
// calls as the measured step makes, and nothing else. This file and its .cpp
// know only PortIo, so the calls cannot be devirtualised or folded away.
#include "hw/PortIo.h"

#include <cstdint>

namespace kalvor::bench {

// `conversions` times what one conversion costs on the bus: the start write,
// one status read and the two result reads. Returns the sum of the bytes read.
unsigned adcFloor(PortIo& io, std::uint16_t base, int conversions);

// `writes` control register writes and `reads` status reads.
unsigned portCallFloor(PortIo& io, std::uint16_t base, int writes, int reads);

} // namespace kalvor::bench
