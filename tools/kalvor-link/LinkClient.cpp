#include "LinkClient.h"

#include "link/LinkProtocol.h"

#include <QDeadlineTimer>
#include <QFileInfo>

namespace kalvor::tool {

LinkClient::OpenError LinkClient::open(int timeoutMs, QString* why)
{
    close();
    if (!QFileInfo::exists(path_)) {
        *why = QStringLiteral("no KALVOR program is running (no socket at %1)").arg(path_);
        return OpenError::NoProgram;
    }
    socket_.connectToServer(path_);
    if (!socket_.waitForConnected(timeoutMs)) {
        const auto error = socket_.error();
        *why = QStringLiteral("no KALVOR program answers at %1 (%2)").arg(path_, socket_.errorString());
        socket_.abort();
        return error == QLocalSocket::ServerNotFoundError
                       || error == QLocalSocket::ConnectionRefusedError
                   ? OpenError::NoProgram
                   : OpenError::Refused;
    }
    QByteArray line;
    switch (readLine(&line, timeoutMs)) {
    case Read::Line:
        if (line.startsWith("HELLO LINK/1 "))
            return OpenError::None;
        *why = QStringLiteral("%1 refused the connection: %2")
                   .arg(path_, QString::fromUtf8(line));
        break;
    case Read::Timeout:
        *why = QStringLiteral("no greeting from %1").arg(path_);
        break;
    case Read::Closed:
        *why = QStringLiteral("%1 closed the connection at once").arg(path_);
        break;
    }
    close();
    return OpenError::Refused;
}

void LinkClient::close()
{
    socket_.abort();
    buffer_.clear();
}

bool LinkClient::send(const QByteArray& bytes)
{
    if (socket_.state() != QLocalSocket::ConnectedState)
        return false;
    socket_.write(bytes);
    return socket_.waitForBytesWritten(5000) || socket_.bytesToWrite() == 0;
}

LinkClient::Read LinkClient::readLine(QByteArray* line, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end >= 0) {
            *line = link::chomp(QByteArrayView(buffer_).first(end + 1)).toByteArray();
            buffer_.remove(0, end + 1);
            return Read::Line;
        }
        if (socket_.state() != QLocalSocket::ConnectedState)
            return Read::Closed;
        if (!socket_.waitForReadyRead(int(deadline.remainingTime()))) {
            buffer_ += socket_.readAll();
            if (buffer_.contains('\n'))
                continue;
            if (socket_.state() != QLocalSocket::ConnectedState)
                return Read::Closed;
            if (deadline.hasExpired())
                return Read::Timeout;
            continue;
        }
        buffer_ += socket_.readAll();
    }
}

} // namespace kalvor::tool
