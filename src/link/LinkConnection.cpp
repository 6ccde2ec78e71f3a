#include "link/LinkConnection.h"

#include "link/LinkSocket.h"
#include "link/LinkTopic.h"

#include <QLoggingCategory>

#include <poll.h>

namespace kalvor {

namespace {
Q_LOGGING_CATEGORY(lcConnection, "kalvor.link")
// Read at most this much per turn of the event loop, so one client cannot
// hold up the others.
constexpr qint64 kReadChunk = 16 * 1024;
}

LinkConnection::LinkConnection(LinkSocket* socket, const Topics& topics,
                               const LinkLimits& limits, QObject* parent)
    : QObject(parent), socket_(socket), topics_(topics), limits_(limits)
{
    socket_->setParent(this);
    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(limits_.stallTimeoutMs);
    connect(&stallTimer_, &QTimer::timeout, this, [this] {
        drop(QStringLiteral("no write progress for %1 ms").arg(limits_.stallTimeoutMs));
    });
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &LinkConnection::onIdle);
    connect(socket_, &LinkSocket::readyRead, this, &LinkConnection::onReadyRead);
    connect(socket_, &LinkSocket::bytesWritten, this, &LinkConnection::onBytesWritten);
    connect(socket_, &LinkSocket::closed, this, &LinkConnection::finish);
    sinceRequest_.start();
    armIdle();
}

void LinkConnection::greet()
{
    send(link::greetingLine());
    sendNow();
}

void LinkConnection::notify(int topicIndex, int itemIndex)
{
    const ItemKey key = keyOf(topicIndex, itemIndex);
    if (gone_ || closing_ || !links_.contains(key))
        return;
    enqueue(key);
    writePending();
    sendNow();
}

void LinkConnection::shutdown()
{
    gone_ = true;
    stallTimer_.stop();
    idleTimer_.stop();
    socket_->disconnect(this);
    socket_->abort();
}

bool LinkConnection::endIfPeerGone()
{
    if (gone_)
        return true;
    pollfd peer{socket_->descriptor(), POLLIN, 0};
    if (peer.fd < 0 || ::poll(&peer, 1, 0) != 1 || !(peer.revents & POLLHUP))
        return false;
    // All it sent is there to read; each turn reads a chunk of it.
    for (int turn = 0; turn < 1024 && !gone_ && !closing_; ++turn)
        onReadyRead();
    return gone_;
}

// ---- writing ----------------------------------------------------------------

// Queues a line; it leaves with the next sendNow().
void LinkConnection::send(const QByteArray& line)
{
    if (gone_ || closing_)
        return;
    socket_->write(line);
    if (socket_->bytesToWrite() > limits_.maxUnsentBytes)
        drop(QStringLiteral("more than %1 bytes unsent").arg(limits_.maxUnsentBytes));
}

// Hands what is queued to the system now, in this turn of the event loop; what
// the client has no room for waits, and the stall clock runs while it does.
void LinkConnection::sendNow()
{
    if (gone_)
        return;
    trackProgress(socket_->flush());
}

// Queued bytes left while the client was holding them up: updates that
// waited may follow.
void LinkConnection::onBytesWritten()
{
    if (gone_)
        return;
    trackProgress(1);
    writePending();
    sendNow();
}

void LinkConnection::trackProgress(qint64 sent)
{
    if (gone_)
        return;
    if (socket_->bytesToWrite() == 0)
        stallTimer_.stop();
    else if (sent > 0 || !stallTimer_.isActive())
        stallTimer_.start();  // progress: the clock starts again
}

void LinkConnection::enqueue(ItemKey key)
{
    // An item already waiting keeps its place; it goes out with its latest value.
    if (!pending_.contains(key))
        pending_.append(key);
}

void LinkConnection::dropPending(ItemKey key) { pending_.removeOne(key); }

void LinkConnection::writePending()
{
    while (!pending_.isEmpty() && !gone_ && !closing_
           && socket_->bytesToWrite() < limits_.writeLowWaterBytes) {
        const ItemKey key = pending_.takeFirst();
        LinkTopic* topic = topicAt(topicOf(key));
        const auto link = links_.constFind(key);
        if (!topic || link == links_.constEnd())
            continue;
        const ItemLines& lines = topic->lines(itemOf(key));
        send(*link == link::LinkMode::Hot ? lines.update : lines.changed);
    }
}

// ---- reading ----------------------------------------------------------------

void LinkConnection::onReadyRead()
{
    if (gone_ || closing_)
        return;
    if (socket_->read(in_, kReadChunk) > 0) {
        sinceRequest_.start();
        armIdle();
    }

    qsizetype start = 0;
    while (!closing_ && !gone_) {
        const qsizetype end = in_.indexOf('\n', start);
        if (end < 0) {
            // One more byte: a CR may still wait for its LF.
            if (in_.size() - start > limits_.maxLineBytes + 1)
                closeAfter(link::errorLine(
                    "LINE_TOO_LONG", QStringLiteral("lines are at most %1 bytes").arg(limits_.maxLineBytes)));
            break;
        }
        handleLine(QByteArrayView(in_).sliced(start, end - start + 1));
        start = end + 1;
    }
    if (closing_ || gone_)
        in_.clear();
    else if (start == in_.size())
        in_.resize(0);  // keeps the buffer for the next read
    else
        in_.remove(0, start);
    if (socket_->atEnd())
        endOfInput();
    sendNow();
}

// The client sends nothing more: a last line without its line end still
// counts, then the replies go out and the connection closes.
void LinkConnection::endOfInput()
{
    if (gone_ || closing_)
        return;
    if (!in_.isEmpty() && in_.size() <= limits_.maxLineBytes + 1)
        handleLine(in_);
    in_.clear();
    if (closing_ || gone_)
        return;
    closing_ = true;
    pending_.clear();
    idleTimer_.stop();
    socket_->closeAfterQueue();
}

void LinkConnection::handleLine(QByteArrayView raw)
{
    const QByteArrayView line = link::chomp(raw);
    if (line.size() > limits_.maxLineBytes) {
        closeAfter(link::errorLine(
            "LINE_TOO_LONG", QStringLiteral("lines are at most %1 bytes").arg(limits_.maxLineBytes)));
        return;
    }
    QString why;
    if (std::optional<link::Request> request = link::parseRequest(line, &why))
        handle(*request);
    else
        send(link::errorLine("BAD_REQUEST", why));
}

int LinkConnection::topicIndex(const QString& name) const
{
    for (int i = 0; i < topics_.size(); ++i)
        if (topics_[i] && topics_[i]->name() == name)
            return i;
    return -1;
}

LinkTopic* LinkConnection::topicAt(int index) const
{
    return index >= 0 && index < topics_.size() ? topics_[index].data() : nullptr;
}

bool LinkConnection::resolve(const link::Request& r, ItemKey* key)
{
    const int index = topicIndex(r.topic);
    if (index < 0) {
        send(link::errorLine("UNKNOWN_TOPIC", QStringLiteral("no topic %1").arg(r.topic)));
        return false;
    }
    const int item = topicAt(index)->itemIndex(r.item);
    if (item < 0) {
        send(link::errorLine("UNKNOWN_ITEM",
                             QStringLiteral("topic %1 has no item %2").arg(r.topic, r.item)));
        return false;
    }
    *key = keyOf(index, item);
    return true;
}

void LinkConnection::handle(const link::Request& r)
{
    using link::Command;
    ItemKey key;
    switch (r.command) {
    case Command::Ping:
        send(link::simpleLine("PONG"));
        return;
    case Command::Quit:
        closeAfter(link::simpleLine("BYE"));
        return;
    case Command::Topics: {
        QStringList names;
        for (const QPointer<LinkTopic>& t : topics_)
            if (t)
                names.append(t->name());
        send(link::topicsLine(names));
        return;
    }
    case Command::Items:
        if (LinkTopic* topic = topicAt(topicIndex(r.topic)))
            send(link::itemsLine(r.topic, topic->items()));
        else
            send(link::errorLine("UNKNOWN_TOPIC", QStringLiteral("no topic %1").arg(r.topic)));
        return;
    case Command::Get:
        if (resolve(r, &key)) {
            LinkTopic* topic = topicAt(topicOf(key));
            topic->aboutToGet(r.item);
            send(topic->lines(itemOf(key)).value);
        }
        return;
    case Command::Sub:
        if (resolve(r, &key)) {
            // Told before the link exists: what the topic sets on it goes
            // out once, as the current state below.
            if (!links_.contains(key))
                topicAt(topicOf(key))->linked(this, r.item);
            links_.insert(key, r.mode);  // a second SUB only changes the mode
            idleTimer_.stop();           // linked clients are never cut for idling
            send(link::okLine("SUB", r.topic, r.item, r.mode));
            enqueue(key);  // the current state at once
            writePending();
        }
        return;
    case Command::Unsub:
        if (resolve(r, &key)) {
            if (links_.remove(key))
                topicAt(topicOf(key))->unlinked(this, r.item);
            dropPending(key);
            armIdle();
            send(link::okLine("UNSUB", r.topic, r.item));
        }
        return;
    case Command::Put:
        if (resolve(r, &key)) {
            const PutResult result = topicAt(topicOf(key))->putFrom(this, r.item, r.value);
            if (result.ok)
                send(link::okLine("PUT", r.topic, r.item));
            else
                send(link::errorLine(result.code.isEmpty() ? QByteArray("PUT_FAILED")
                                                           : result.code.toLatin1(),
                                     result.detail));
        }
        return;
    case Command::Exec:
        send(link::errorLine("NOT_SUPPORTED", QStringLiteral("EXEC is not supported")));
        return;
    }
}

// ---- idling -----------------------------------------------------------------

// A connection that links nothing runs the idle clock; every read moves its
// deadline without touching the timer, which checks again when it fires.
void LinkConnection::armIdle()
{
    if (gone_ || closing_ || !links_.isEmpty() || idleTimer_.isActive())
        return;
    idleTimer_.start(int(qMax<qint64>(limits_.idleTimeoutMs - sinceRequest_.elapsed(), 0)));
}

void LinkConnection::onIdle()
{
    if (gone_ || closing_ || !links_.isEmpty())
        return;
    if (sinceRequest_.elapsed() < limits_.idleTimeoutMs) {
        armIdle();
        return;
    }
    qCInfo(lcConnection) << "link client closed after" << limits_.idleTimeoutMs << "ms without a request or a link";
    closeAfter(link::errorLine(
        "IDLE", QStringLiteral("no request and no link for %1 s; closing").arg(limits_.idleTimeoutMs / 1000.0)));
    sendNow();
}

// ---- ending -----------------------------------------------------------------

void LinkConnection::closeAfter(const QByteArray& line)
{
    send(line);
    closing_ = true;
    pending_.clear();
    idleTimer_.stop();
    socket_->closeAfterQueue();
}

void LinkConnection::drop(const QString& reason)
{
    if (gone_)
        return;
    qCWarning(lcConnection) << "link client cut off:" << reason;
    closing_ = true;
    stallTimer_.stop();
    idleTimer_.stop();
    emit cutOff(reason);
    socket_->abort();
    finish();
}

void LinkConnection::finish()
{
    if (gone_)
        return;
    gone_ = true;
    stallTimer_.stop();
    idleTimer_.stop();
    links_.clear();
    for (const QPointer<LinkTopic>& topic : topics_)
        if (topic)
            topic->clientGone(this);
    emit finished();
}

} // namespace kalvor
