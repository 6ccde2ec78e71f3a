#include "link/LinkSocket.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kalvor {

namespace {
constexpr int kMaxIov = 64;  // queued lines handed to one sendmsg()
}

LinkSocket::LinkSocket(int fd, QObject* parent)
    : QObject(parent),
      fd_(fd),
      readNotifier_(fd, QSocketNotifier::Read),
      writeNotifier_(fd, QSocketNotifier::Write)
{
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    writeNotifier_.setEnabled(false);
    connect(&readNotifier_, &QSocketNotifier::activated, this, &LinkSocket::readyRead);
    connect(&writeNotifier_, &QSocketNotifier::activated, this, &LinkSocket::onWritable);
}

LinkSocket::~LinkSocket() { abort(); }

qint64 LinkSocket::read(QByteArray& in, qint64 max)
{
    if (fd_ < 0 || atEnd_ || max <= 0)
        return 0;
    const qsizetype kept = in.size();
    in.resize(kept + max);  // within the capacity a previous read left, no allocation
    ssize_t n;
    do
        n = ::recv(fd_, in.data() + kept, size_t(max), MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    in.resize(kept + qMax<qsizetype>(n, 0));
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    // End of input, or the peer reset the connection: either way nothing more
    // arrives. The writing side stays open for what is queued.
    atEnd_ = true;
    readNotifier_.setEnabled(false);
    return 0;
}

void LinkSocket::write(const QByteArray& bytes)
{
    if (fd_ < 0 || bytes.isEmpty())
        return;
    queue_.push_back(bytes);
    queued_ += bytes.size();
}

qint64 LinkSocket::flush()
{
    qint64 sent = 0;
    while (fd_ >= 0 && queued_ > 0) {
        iovec iov[kMaxIov];
        int count = 0;
        qsizetype offset = headSent_;
        for (auto it = queue_.begin(); it != queue_.end() && count < kMaxIov; ++it, offset = 0)
            iov[count++] = {const_cast<char*>(it->constData()) + offset, size_t(it->size() - offset)};
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(fd_, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {  // the peer is gone (EPIPE, ECONNRESET)
            closeNow();
            emit closed();
            return sent;
        }
        sent += n;
        queued_ -= n;
        for (qsizetype left = n; left > 0;) {
            const qsizetype rest = queue_.front().size() - headSent_;
            if (left < rest) {
                headSent_ += left;
                break;
            }
            left -= rest;
            headSent_ = 0;
            queue_.pop_front();
        }
    }
    if (fd_ < 0)
        return sent;
    if (queued_ > 0) {
        if (!writeNotifier_.isEnabled())
            writeNotifier_.setEnabled(true);
    } else {
        if (writeNotifier_.isEnabled())
            writeNotifier_.setEnabled(false);
        if (closing_) {
            closeNow();
            emit closed();
        }
    }
    return sent;
}

void LinkSocket::onWritable()
{
    const qint64 sent = flush();
    if (sent > 0 && fd_ >= 0)
        emit bytesWritten(sent);
}

void LinkSocket::closeAfterQueue()
{
    if (fd_ < 0 || closing_)
        return;
    closing_ = true;
    readNotifier_.setEnabled(false);
    flush();
}

void LinkSocket::abort()
{
    if (fd_ >= 0)
        closeNow();
}

void LinkSocket::closeNow()
{
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    queue_.clear();
    headSent_ = 0;
    queued_ = 0;
}

} // namespace kalvor
