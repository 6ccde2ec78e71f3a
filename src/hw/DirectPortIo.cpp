#include "hw/DirectPortIo.h"

#include "hw/PortAccessFailure.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define KALVOR_HAVE_IOPERM 1
#endif

namespace kalvor {

namespace {
QString failure(const char* call, int error)
{
    PortAccessFacts facts;
    facts.call = call;
    facts.error = error;
    facts.hasRawIo = hasRawIoCapability();
    facts.lockdown = kernelLockdown();
    describeDevPort(&facts);
    return portAccessReport(facts);
}
} // namespace

namespace {
struct OpenedAhead {
    bool taken = false;
    std::unique_ptr<DirectPortIo> io;
    QString why;
};
OpenedAhead& openedAhead()
{
    static OpenedAhead ahead;
    return ahead;
}
} // namespace

void DirectPortIo::openAhead()
{
    OpenedAhead& ahead = openedAhead();
    ahead.io = openNow(&ahead.why);
    ahead.taken = true;
}

std::unique_ptr<DirectPortIo> DirectPortIo::open(QString* why)
{
    OpenedAhead& ahead = openedAhead();
    if (!ahead.taken)
        return openNow(why);
    ahead.taken = false;
    if (!ahead.io && why)
        *why = ahead.why;
    return std::move(ahead.io);
}

std::unique_ptr<DirectPortIo> DirectPortIo::openNow(QString* why)
{
    std::unique_ptr<DirectPortIo> io(new DirectPortIo);
#ifdef KALVOR_HAVE_IOPERM
    if (::ioperm(kFirstCardPort, kLastCardPort - kFirstCardPort + 1, 1) == 0)
        return io;
    const int iopermErrno = errno;
    if (iopermErrno != ENOSYS) {
        if (why)
            *why = failure("ioperm", iopermErrno);
        return nullptr;
    }
#endif
    io->devPortFd_ = ::open("/dev/port", O_RDWR | O_CLOEXEC);
    if (io->devPortFd_ >= 0)
        return io;
    if (why)
        *why = failure("/dev/port", errno);
    return nullptr;
}

DirectPortIo::~DirectPortIo()
{
    if (devPortFd_ >= 0)
        ::close(devPortFd_);
}

std::uint8_t DirectPortIo::readPort(std::uint16_t port)
{
    if (devPortFd_ >= 0) {
        unsigned char b = 0xFF;
        if (::pread(devPortFd_, &b, 1, port) != 1)
            return 0xFF;
        return b;
    }
#ifdef KALVOR_HAVE_IOPERM
    return ::inb(port);
#else
    return 0xFF;
#endif
}

void DirectPortIo::writePort(std::uint16_t port, std::uint8_t value)
{
    if (devPortFd_ >= 0) {
        const unsigned char b = value;
        (void)!::pwrite(devPortFd_, &b, 1, port);
        return;
    }
#ifdef KALVOR_HAVE_IOPERM
    ::outb(value, port);
#endif
}

bool dropPrivileges(QString* why)
{
    // A set-uid start: go back to the real user (ioperm grants survive this).
    if (::geteuid() != ::getuid() || ::getegid() != ::getgid()) {
        if (::setgid(::getgid()) != 0 || ::setuid(::getuid()) != 0) {
            if (why)
                *why = QStringLiteral("could not give up the set-uid identity: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0) {
        if (why)
            *why = QStringLiteral("could not drop capabilities: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace kalvor
