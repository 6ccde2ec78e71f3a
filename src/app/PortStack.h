#pragma once
// The port access the program runs on, chosen once at start: the card on the
// bus or the simulated reader, optionally traced to a file, always kept inside
// the card's range.
#include "hw/PortIo.h"
#include "hw/SafePortIo.h"
#include "hw/TracingPortIo.h"
#include "hw/sim/SimulatedCard.h"

#include <QString>
#include <memory>

namespace kalvor {

class PortStack {
public:
    // simulateOptions: null for the hardware, else the --simulate text.
    // Returns null with a report in *why, and the exit status in *status,
    // when the backend or the trace is not available.
    static std::unique_ptr<PortStack> create(const QString* simulateOptions, const QString& traceFile, QString* why,
                                             int* status);

    PortIo& io() { return *safe_; }
    sim::SimulatedCard* simulator() { return simulator_; }
    // Pushes the trace to its file; false when the trace could not be
    // written completely (said once on standard error when it happened).
    bool flush()
    {
        if (!trace_)
            return true;
        trace_->flush();
        return !trace_->writeFailed();
    }

private:
    std::unique_ptr<PortIo> backend_;
    sim::SimulatedCard* simulator_ = nullptr;
    std::unique_ptr<TracingPortIo> trace_;
    std::unique_ptr<SafePortIo> safe_;
};

} // namespace kalvor
