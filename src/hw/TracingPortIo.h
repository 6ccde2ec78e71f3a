#pragma once
// Records every port access, in order, one line each: "R 302 81", "W 303 22".
#include "hw/PortIo.h"

#include <cstdio>
#include <string>

namespace kalvor {

class TracingPortIo : public PortIo {
public:
    // Opens (truncates) the trace file; ok() tells whether that worked.
    TracingPortIo(PortIo& inner, const std::string& path);
    ~TracingPortIo() override;
    TracingPortIo(const TracingPortIo&) = delete;
    TracingPortIo& operator=(const TracingPortIo&) = delete;

    bool ok() const { return file_ != nullptr; }
    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;
    // Pushes everything recorded so far to the file.
    void flush();

private:
    PortIo& inner_;
    std::FILE* file_ = nullptr;
};

} // namespace kalvor
