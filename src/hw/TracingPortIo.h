#pragma once
// Records every port access, in order, one line each: "R 302 81", "W 303 22".
#include "hw/PortIo.h"

#include <QString>
#include <cstdio>
#include <functional>
#include <string>

namespace kalvor {

class TracingPortIo : public PortIo {
public:
    // Opens (truncates) the trace file; ok() tells whether that worked, and
    // openError() why not. Opening never waits: a FIFO without a reader is
    // refused.
    TracingPortIo(PortIo& inner, const std::string& path);
    ~TracingPortIo() override;
    TracingPortIo(const TracingPortIo&) = delete;
    TracingPortIo& operator=(const TracingPortIo&) = delete;

    bool ok() const { return file_ != nullptr; }
    QString openError() const { return openError_; }
    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;
    // Pushes everything recorded so far to the file.
    void flush();

    // A write that failed (full disk, a FIFO whose reader left) ends the
    // trace: nothing more is recorded, and onWriteFailure runs once with the
    // reason. The port accesses themselves go on.
    bool writeFailed() const { return !writeError_.isEmpty(); }
    QString writeError() const { return writeError_; }
    std::function<void(const QString& reason)> onWriteFailure;

private:
    void failed(int error);
    PortIo& inner_;
    std::FILE* file_ = nullptr;
    QString openError_;
    QString writeError_;
};

} // namespace kalvor
