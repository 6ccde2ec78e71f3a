#pragma once
// One accepted connection of the link service: a Unix stream socket read and
// written without blocking from the event loop. Unlike QLocalSocket it keeps
// its writing side open after the peer has shut down its own (a client that
// sends its requests and then ends its input still gets every reply), and a
// line goes out with one system call when the peer keeps up: the write
// notifier is only armed while the peer holds up the queue.
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <deque>

namespace kalvor {

class LinkSocket : public QObject {
    Q_OBJECT
public:
    // Takes over the connected descriptor `fd`.
    explicit LinkSocket(int fd, QObject* parent = nullptr);
    ~LinkSocket() override;

    int descriptor() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // Appends what has arrived, at most `max` bytes, to `in`; returns the
    // number of bytes added. atEnd() tells when the peer will send nothing more.
    qint64 read(QByteArray& in, qint64 max);
    bool atEnd() const { return atEnd_; }

    // Queues `bytes` (shared, not copied); they leave with the next flush().
    void write(const QByteArray& bytes);
    // Hands as much of the queue to the system as it takes now; returns how
    // many bytes that was. Whatever is left goes out as the peer reads.
    qint64 flush();
    qint64 bytesToWrite() const { return queued_; }

    // Reads no more; the queue still goes out, then the socket closes.
    void closeAfterQueue();
    // Closes at once; the queue is dropped. Emits nothing.
    void abort();

signals:
    // Bytes have arrived, or the end of the input.
    void readyRead();
    // Queued bytes left while the peer was holding them up.
    void bytesWritten(qint64 bytes);
    // The socket closed: the peer is gone, or the queue went out after closeAfterQueue().
    void closed();

private:
    void onWritable();
    void closeNow();

    int fd_ = -1;
    QSocketNotifier readNotifier_;
    QSocketNotifier writeNotifier_;
    std::deque<QByteArray> queue_;
    qsizetype headSent_ = 0;  // bytes of queue_.front() already sent
    qint64 queued_ = 0;
    bool atEnd_ = false;
    bool closing_ = false;
};

} // namespace kalvor
