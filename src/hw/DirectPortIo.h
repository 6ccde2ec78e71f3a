#pragma once
// The BRENIK card on the real bus: ioperm() over the card's range and inb/outb
// on x86, or /dev/port where ioperm does not exist. Access is obtained once, at
// start, before any window or setting is touched; afterwards the process drops
// every capability.
#include "hw/PortIo.h"

#include <QString>
#include <memory>

namespace kalvor {

class DirectPortIo : public PortIo {
public:
    // Obtains access to ports 0x100..0x3E3. On failure returns null and puts a
    // plain explanation (what is missing, how to grant it) into *why.
    static std::unique_ptr<DirectPortIo> open(QString* why);
    // Opens the ports at once and keeps the access (or why it was refused) for
    // the next open(): for a privileged start, which gives up its privileges
    // before anything else runs.
    static void openAhead();
    ~DirectPortIo() override;

    std::uint8_t readPort(std::uint16_t port) override;
    void writePort(std::uint16_t port, std::uint8_t value) override;

private:
    DirectPortIo() = default;
    static std::unique_ptr<DirectPortIo> openNow(QString* why);
    int devPortFd_ = -1; // >= 0 when going through /dev/port
};

// Gives up root identity (for a set-uid start) and every capability. Port
// permissions already granted by ioperm and open descriptors stay.
bool dropPrivileges(QString* why);

} // namespace kalvor
