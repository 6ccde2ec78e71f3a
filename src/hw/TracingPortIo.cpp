#include "hw/TracingPortIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kalvor {

namespace {
QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
} // namespace

TracingPortIo::TracingPortIo(PortIo& inner, const std::string& path) : inner_(inner)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        openError_ = errno == ENXIO ? QStringLiteral("it is a FIFO that nobody reads") : errnoText(errno);
        return;
    }
    // Written in blocking mode: a slow reader of a FIFO slows the trace down
    // rather than losing lines.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        openError_ = errnoText(errno);
        ::close(fd);
        return;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
}

TracingPortIo::~TracingPortIo()
{
    if (file_)
        std::fclose(file_);
}

void TracingPortIo::failed(int error)
{
    if (writeFailed())
        return;
    writeError_ = errnoText(error ? error : EIO);
    if (onWriteFailure)
        onWriteFailure(writeError_);
}

std::uint8_t TracingPortIo::readPort(std::uint16_t port)
{
    const std::uint8_t v = inner_.readPort(port);
    if (file_ && !writeFailed() && std::fprintf(file_, "R %X %02X\n", unsigned(port), unsigned(v)) < 0)
        failed(errno);
    return v;
}

void TracingPortIo::writePort(std::uint16_t port, std::uint8_t value)
{
    if (file_ && !writeFailed() && std::fprintf(file_, "W %X %02X\n", unsigned(port), unsigned(value)) < 0)
        failed(errno);
    inner_.writePort(port, value);
}

void TracingPortIo::flush()
{
    if (file_ && !writeFailed() && std::fflush(file_) != 0)
        failed(errno);
}

} // namespace kalvor
