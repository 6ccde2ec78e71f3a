#include "LinkClient.h"

#include "link/LinkProtocol.h"
#include "link/LinkTrust.h"

#include <QDeadlineTimer>

namespace kalvor::tool {

LinkClient::LinkClient(QString socketPath) : path_(std::move(socketPath))
{
    socket_.setReadBufferSize(kMaxLineBytes);
}

LinkClient::OpenError LinkClient::open(int timeoutMs, QString* why)
{
    close();
    switch (LinkTrust::connect(socket_, path_, timeoutMs, why)) {
    case LinkTrust::Connect::Connected:
        break;
    case LinkTrust::Connect::NotRunning:
        return OpenError::NoProgram;
    case LinkTrust::Connect::Refused:
    case LinkTrust::Connect::Denied:
        return OpenError::Refused;
    case LinkTrust::Connect::Failed:
        return OpenError::Unanswered;
    }
    QByteArray line;
    const Read read = readLine(&line, timeoutMs);
    if (read == Read::Line && line.startsWith("HELLO LINK/1 "))
        return OpenError::None;
    *why = read == Read::Line
               ? QStringLiteral("%1 refused the connection: %2").arg(path_, QString::fromUtf8(line))
               : QStringLiteral("no greeting from %1: %2").arg(path_, describe(read, timeoutMs));
    close();
    return OpenError::Unanswered;
}

void LinkClient::close()
{
    socket_.abort();
    buffer_.clear();
}

bool LinkClient::send(const QByteArray& bytes, int timeoutMs)
{
    if (socket_.state() != QLocalSocket::ConnectedState)
        return false;
    socket_.write(bytes);
    const QDeadlineTimer deadline(timeoutMs);
    while (socket_.bytesToWrite() > 0 && !deadline.hasExpired())
        if (!socket_.waitForBytesWritten(int(deadline.remainingTime())))
            break;
    return socket_.bytesToWrite() == 0;
}

LinkClient::Read LinkClient::readLine(QByteArray* line, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end > kMaxLineBytes || (end < 0 && buffer_.size() > kMaxLineBytes)) {
            close();
            return Read::TooLong;
        }
        if (end >= 0) {
            *line = link::chomp(QByteArrayView(buffer_).first(end + 1)).toByteArray();
            buffer_.remove(0, end + 1);
            return Read::Line;
        }
        if (socket_.bytesAvailable() > 0) {
            buffer_ += socket_.read(kMaxLineBytes);
            continue;
        }
        if (socket_.state() != QLocalSocket::ConnectedState)
            return Read::Closed;
        if (!socket_.waitForReadyRead(int(deadline.remainingTime()))) {
            if (socket_.bytesAvailable() > 0)
                continue;
            if (socket_.state() != QLocalSocket::ConnectedState)
                return Read::Closed;
            if (deadline.hasExpired())
                return Read::Timeout;
        }
    }
}

QString LinkClient::describe(Read result, int timeoutMs) const
{
    switch (result) {
    case Read::Line:
        return {};
    case Read::Timeout:
        return QStringLiteral("no reply within %1 ms").arg(timeoutMs);
    case Read::Closed:
        return QStringLiteral("the program closed the connection");
    case Read::TooLong:
        return QStringLiteral("%1 sent a line longer than %2 KiB; ending the conversation")
            .arg(path_)
            .arg(kMaxLineBytes / 1024);
    }
    return {};
}

} // namespace kalvor::tool
