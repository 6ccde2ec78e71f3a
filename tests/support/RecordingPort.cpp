#include "support/RecordingPort.h"

#include <iomanip>

namespace kalvor::test {

std::ostream& operator<<(std::ostream& os, const PortAccess& a)
{
    const auto flags = os.flags();
    os << char(a.kind) << ' ' << std::uppercase << std::hex << unsigned(a.port) << ' ' << std::setw(2)
       << std::setfill('0') << unsigned(a.value);
    os.flags(flags);
    return os;
}

void RecordingPort::record(const PortAccess& a)
{
    log_.push_back(a);
    if (onAccess)
        onAccess(a);
}

std::uint8_t RecordingPort::readPort(std::uint16_t port)
{
    std::uint8_t value = unscripted_;
    bool scripted = false;
    const auto it = scripts_.find(port);
    if (it != scripts_.end()) {
        Script& s = it->second;
        scripted = true;
        if (!s.queue.empty()) {
            value = s.queue.front();
            s.queue.pop_front();
        } else if (s.reader) {
            value = s.reader();
        } else if (s.hasFixed) {
            value = s.fixed;
        } else {
            scripted = false;
        }
    }
    if (!scripted && inner_)
        value = inner_->readPort(port);
    record(PortAccess::read(port, value));
    return value;
}

void RecordingPort::writePort(std::uint16_t port, std::uint8_t value)
{
    record(PortAccess::write(port, value));
    if (inner_)
        inner_->writePort(port, value);
}

void RecordingPort::setRead(std::uint16_t port, std::uint8_t value)
{
    Script& s = scripts_[port];
    s.reader = nullptr;
    s.hasFixed = true;
    s.fixed = value;
}

void RecordingPort::queueReads(std::uint16_t port, const std::vector<std::uint8_t>& values)
{
    Script& s = scripts_[port];
    s.queue.insert(s.queue.end(), values.begin(), values.end());
}

void RecordingPort::setReader(std::uint16_t port, std::function<std::uint8_t()> reader)
{
    Script& s = scripts_[port];
    s.hasFixed = false;
    s.reader = std::move(reader);
}

std::vector<std::uint8_t> RecordingPort::writesTo(std::uint16_t port) const
{
    std::vector<std::uint8_t> out;
    for (const PortAccess& a : log_)
        if (a.kind == PortAccess::Write && a.port == port)
            out.push_back(a.value);
    return out;
}

std::vector<PortAccess> RecordingPort::controlWrites() const
{
    std::vector<PortAccess> out;
    for (const PortAccess& a : log_)
        if (a.kind == PortAccess::Write && (a.port & 3) == 3)
            out.push_back(a);
    return out;
}

std::vector<std::uint8_t> RecordingPort::readsFrom(std::uint16_t port) const
{
    std::vector<std::uint8_t> out;
    for (const PortAccess& a : log_)
        if (a.kind == PortAccess::Read && a.port == port)
            out.push_back(a.value);
    return out;
}

std::size_t RecordingPort::writeCount() const
{
    std::size_t n = 0;
    for (const PortAccess& a : log_)
        n += a.kind == PortAccess::Write;
    return n;
}

std::size_t RecordingPort::readCount() const { return log_.size() - writeCount(); }

} // namespace kalvor::test
