#pragma once
// Why the card's ports could not be reached, told apart so that each cause
// gets its own remedy: no /dev/port, no CAP_SYS_RAWIO, or the capability
// present but the kernel refusing anyway (lockdown, as under UEFI Secure Boot).
#include <QString>

namespace kalvor {

struct PortAccessFacts {
    const char* call = "ioperm"; // "ioperm" or "/dev/port"
    int error = 0;               // errno of that call
    bool hasRawIo = false;       // CAP_SYS_RAWIO in the effective set
    QString lockdown;            // content of /sys/kernel/security/lockdown, if readable
};

enum class PortAccessCause { NoDevPort, NoCapability, KernelRefused, NoFileAccess, Other };

PortAccessCause portAccessCause(const PortAccessFacts& facts);
// The whole report for the user: what failed, why, and what to do.
QString portAccessReport(const PortAccessFacts& facts);

// What this process and this kernel say, for the facts above.
bool hasRawIoCapability();
QString kernelLockdown();

} // namespace kalvor
