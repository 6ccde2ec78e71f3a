#pragma once
// Why the card's ports could not be reached, told apart so that each cause
// gets its own remedy: no /dev/port, no CAP_SYS_RAWIO, no access to
// /dev/port, or the capability present but the kernel refusing anyway
// (lockdown, as under UEFI Secure Boot). The report names the route the
// kernel offers: ioperm on x86 kernels that have it, /dev/port elsewhere
// (which also needs read and write access to the device: the package's udev
// rule gives it to group kalvor).
#include <QString>

namespace kalvor {

struct PortAccessFacts {
    const char* call = "ioperm"; // "ioperm" or "/dev/port"
    int error = 0;               // errno of that call
    bool hasRawIo = false;       // CAP_SYS_RAWIO in the effective set
    QString lockdown;            // content of /sys/kernel/security/lockdown, if readable
    QString devPortGroup;        // the group of /dev/port, if it exists
    unsigned devPortMode = 0;    // its permission bits
};

enum class PortAccessCause { NoDevPort, NoCapability, KernelRefused, NoFileAccess, Other };

PortAccessCause portAccessCause(const PortAccessFacts& facts);
// The whole report for the user: what failed, why, and what to do.
QString portAccessReport(const PortAccessFacts& facts);

// What this process and this kernel say, for the facts above.
bool hasRawIoCapability();
QString kernelLockdown();
// Fills devPortGroup and devPortMode from /dev/port.
void describeDevPort(PortAccessFacts* facts);

} // namespace kalvor
