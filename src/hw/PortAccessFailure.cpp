#include "hw/PortAccessFailure.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kalvor {

namespace {
constexpr char kLockdownFile[] = "/sys/kernel/security/lockdown";

// "none [integrity] confidentiality" -> "integrity"
QString activeLockdownMode(const QString& content)
{
    const qsizetype open = content.indexOf(QLatin1Char('['));
    const qsizetype close = content.indexOf(QLatin1Char(']'), open + 1);
    if (open < 0 || close < 0)
        return content.trimmed();
    return content.mid(open + 1, close - open - 1);
}
} // namespace

PortAccessCause portAccessCause(const PortAccessFacts& f)
{
    if (std::strcmp(f.call, "/dev/port") == 0 && f.error == ENOENT)
        return PortAccessCause::NoDevPort;
    if (f.error == EPERM)
        return f.hasRawIo ? PortAccessCause::KernelRefused : PortAccessCause::NoCapability;
    if (f.error == EACCES)
        return PortAccessCause::NoFileAccess;
    return PortAccessCause::Other;
}

QString portAccessReport(const PortAccessFacts& f)
{
    const bool devPort = std::strcmp(f.call, "/dev/port") == 0;
    const QString route = devPort ? QStringLiteral("This kernel offers no ioperm, so KALVOR reaches the ports "
                                                   "through /dev/port.\n")
                                  : QString();
    const QString head = QStringLiteral("KALVOR cannot reach the BRENIK card: %1 failed for I/O ports 0x100..0x3E3 (%2).\n")
                             .arg(QString::fromLatin1(f.call), QString::fromLocal8Bit(std::strerror(f.error)))
                         + route;
    // Through /dev/port the capability is not enough: the device must open too.
    const QString deviceAccess =
        devPort ? QStringLiteral("\nThrough /dev/port the user also needs read and write access to it: the Debian "
                                 "package's udev rule gives it to group kalvor.")
                : QString();
    const QString simulate = QStringLiteral("\nTo run without hardware, start it with --simulate.");
    switch (portAccessCause(f)) {
    case PortAccessCause::NoDevPort:
        return head
               + QStringLiteral("This kernel has no /dev/port, and KALVOR needs it here to reach the ports.\n"
                                "Use a kernel built with CONFIG_DEVPORT=y (Debian's kernels are), or create the "
                                "device: sudo mknod -m 0640 /dev/port c 1 4 && sudo chgrp kmem /dev/port")
               + simulate;
    case PortAccessCause::NoCapability:
        return head
               + QStringLiteral("KALVOR lacks the CAP_SYS_RAWIO capability that port access needs. Grant it once with\n"
                                "    sudo setcap cap_sys_rawio+ep \"$(command -v kalvor)\"\n"
                                "(the program drops the capability right after it has the ports; the Debian package "
                                "sets it up, and reinstalling it restores it), or start it as root.")
               + deviceAccess + simulate;
    case PortAccessCause::KernelRefused: {
        const QString mode = activeLockdownMode(f.lockdown);
        const QString refused = QStringLiteral(
            "KALVOR has the CAP_SYS_RAWIO capability, but the kernel refuses direct port access all the same.\n");
        if (mode == QLatin1String("none"))
            return head + refused
                   + QStringLiteral("The kernel is not locked down (%1 says \"none\"), so a security module "
                                    "(SELinux, AppArmor) or a container forbids it: allow raw I/O for kalvor there.")
                         .arg(QLatin1String(kLockdownFile))
                   + simulate;
        const QString state = f.lockdown.isEmpty()
                                  ? QStringLiteral("%1 cannot be read").arg(QLatin1String(kLockdownFile))
                                  : QStringLiteral("%1 says \"%2\"").arg(QLatin1String(kLockdownFile), mode);
        return head + refused
               + QStringLiteral("That is the kernel lockdown (%1), which UEFI Secure Boot switches on: while it is "
                                "in force, no program may reach I/O ports. Switch Secure Boot off in the firmware "
                                "setup (or boot a kernel without lockdown) to use the card.")
                     .arg(state)
               + simulate;
    }
    case PortAccessCause::NoFileAccess: {
        const QString device =
            f.devPortGroup.isEmpty()
                ? QStringLiteral("/dev/port")
                : QStringLiteral("/dev/port (group %1, mode %2)")
                      .arg(f.devPortGroup)
                      .arg(f.devPortMode, 4, 8, QLatin1Char('0'));
        return head
               + QStringLiteral("The user may not open %1. The Debian package's udev rule "
                                "(/lib/udev/rules.d/60-kalvor.rules) gives it to group kalvor, mode 0660: be a "
                                "member (sudo adduser USER kalvor, then log in again). Where the device is not of "
                                "group kalvor yet, apply the rule with sudo udevadm trigger --action=change "
                                "--sysname-match=port.")
                     .arg(device)
               + simulate;
    }
    case PortAccessCause::Other:
        break;
    }
    return head + QStringLiteral("Port access needs the CAP_SYS_RAWIO capability.") + simulate;
}

bool hasRawIoCapability()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO);
}

void describeDevPort(PortAccessFacts* facts)
{
    struct stat st {};
    if (::stat("/dev/port", &st) != 0)
        return;
    facts->devPortMode = st.st_mode & 07777;
    const group* gr = ::getgrgid(st.st_gid);
    facts->devPortGroup = gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid);
}

QString kernelLockdown()
{
    QFile f(QString::fromLatin1(kLockdownFile));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.read(256)).trimmed();
}

} // namespace kalvor
