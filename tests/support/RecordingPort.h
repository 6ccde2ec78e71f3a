#pragma once
// A fake PortIo for tests: records every access in order and answers reads
// from a per-port script. Built around another PortIo (the simulated card, say)
// it passes every write on to it and asks it for the reads no script answers,
// so a test sees each access on its way through.
//
// What a read of a port returns, first match wins:
//   1. the next value queued with queueReads (each used once),
//   2. the reader function set with setReader,
//   3. the fixed value set with setRead,
//   4. the inner port's read, when there is one,
//   5. the value given to the constructor (0xFF by default: an empty bus).
#include "hw/PortIo.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

namespace kalvor::test {

struct PortAccess {
    enum Kind : char { Read = 'R', Write = 'W' };
    Kind kind;
    std::uint16_t port;
    std::uint8_t value; // the byte written, or the byte the read returned

    static PortAccess read(std::uint16_t port, std::uint8_t value) { return {Read, port, value}; }
    static PortAccess write(std::uint16_t port, std::uint8_t value) { return {Write, port, value}; }
    bool operator==(const PortAccess&) const = default;
};

// Prints "W 303 22" / "R 302 81", so failing comparisons read like a trace.
std::ostream& operator<<(std::ostream& os, const PortAccess& a);

class RecordingPort : public PortIo {
public:
    explicit RecordingPort(std::uint8_t unscripted = 0xFF) : unscripted_(unscripted) {}
    explicit RecordingPort(PortIo& inner) : inner_(&inner) {}

    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;

    // Read scripts, per port.
    void setRead(std::uint16_t port, std::uint8_t value);
    void queueReads(std::uint16_t port, const std::vector<std::uint8_t>& values);
    void setReader(std::uint16_t port, std::function<std::uint8_t()> reader);

    // Runs after each access has been recorded (e.g. to look at state at that moment).
    std::function<void(const PortAccess&)> onAccess;

    const std::vector<PortAccess>& accesses() const { return log_; }
    std::vector<std::uint8_t> writesTo(std::uint16_t port) const;
    std::vector<PortAccess> controlWrites() const; // writes to any card's control register (base + 3)
    std::vector<std::uint8_t> readsFrom(std::uint16_t port) const; // the values returned
    std::size_t writeCount() const;
    std::size_t readCount() const;
    void clearLog() { log_.clear(); }

private:
    struct Script {
        std::deque<std::uint8_t> queue;
        std::function<std::uint8_t()> reader;
        bool hasFixed = false;
        std::uint8_t fixed = 0;
    };
    void record(const PortAccess& a);

    PortIo* inner_ = nullptr;
    std::uint8_t unscripted_ = 0xFF;
    std::map<std::uint16_t, Script> scripts_;
    std::vector<PortAccess> log_;
};

} // namespace kalvor::test
