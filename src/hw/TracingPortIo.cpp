#include "hw/TracingPortIo.h"

namespace kalvor {

TracingPortIo::TracingPortIo(PortIo& inner, const std::string& path)
    : inner_(inner), file_(std::fopen(path.c_str(), "w"))
{
    if (file_)
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
}

TracingPortIo::~TracingPortIo()
{
    if (file_)
        std::fclose(file_);
}

std::uint8_t TracingPortIo::readPort(std::uint16_t port)
{
    const std::uint8_t v = inner_.readPort(port);
    if (file_)
        std::fprintf(file_, "R %X %02X\n", unsigned(port), unsigned(v));
    return v;
}

void TracingPortIo::writePort(std::uint16_t port, std::uint8_t value)
{
    if (file_)
        std::fprintf(file_, "W %X %02X\n", unsigned(port), unsigned(value));
    inner_.writePort(port, value);
}

void TracingPortIo::flush()
{
    if (file_)
        std::fflush(file_);
}

} // namespace kalvor
