#include "link/LinkConnection.h"

#include "link/LinkTopic.h"

#include <QLocalSocket>
#include <QLoggingCategory>

namespace kalvor {

namespace {
Q_LOGGING_CATEGORY(lcConnection, "kalvor.link")
}

LinkConnection::LinkConnection(QLocalSocket* socket, const Topics& topics,
                               const LinkLimits& limits, QObject* parent)
    : QObject(parent), socket_(socket), topics_(topics), limits_(limits)
{
    socket_->setParent(this);
    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(limits_.stallTimeoutMs);
    connect(&stallTimer_, &QTimer::timeout, this, [this] {
        drop(QStringLiteral("no write progress for %1 ms").arg(limits_.stallTimeoutMs));
    });
    connect(socket_, &QLocalSocket::readyRead, this, &LinkConnection::onReadyRead);
    connect(socket_, &QLocalSocket::bytesWritten, this, &LinkConnection::onBytesWritten);
    connect(socket_, &QLocalSocket::disconnected, this, &LinkConnection::finish);
}

void LinkConnection::greet() { send(link::greetingLine()); }

void LinkConnection::notify(int topicIndex, const QString& item)
{
    const ItemKey key{topicIndex, item};
    if (gone_ || closing_ || !links_.contains(key))
        return;
    enqueue(key);
    flushPending();
}

void LinkConnection::shutdown()
{
    gone_ = true;
    stallTimer_.stop();
    socket_->disconnect(this);
    socket_->abort();
}

// ---- writing ----------------------------------------------------------------

void LinkConnection::send(const QByteArray& line)
{
    if (gone_ || closing_)
        return;
    socket_->write(line);
    afterWrite();
}

void LinkConnection::afterWrite()
{
    const qint64 queued = socket_->bytesToWrite();
    if (queued > limits_.maxUnsentBytes)
        drop(QStringLiteral("more than %1 bytes unsent").arg(limits_.maxUnsentBytes));
    else if (queued > 0 && !stallTimer_.isActive())
        stallTimer_.start();
}

void LinkConnection::onBytesWritten()
{
    if (gone_)
        return;
    if (socket_->bytesToWrite() == 0)
        stallTimer_.stop();
    else
        stallTimer_.start();  // progress: the clock starts again
    flushPending();
}

void LinkConnection::enqueue(const ItemKey& key)
{
    // An item already waiting keeps its place; it goes out with its latest value.
    if (!pendingSet_.contains(key)) {
        pendingSet_.insert(key);
        pending_.append(key);
    }
}

void LinkConnection::dropPending(const ItemKey& key)
{
    if (pendingSet_.remove(key))
        pending_.removeOne(key);
}

void LinkConnection::flushPending()
{
    while (!pending_.isEmpty() && !gone_ && !closing_
           && socket_->bytesToWrite() < limits_.writeLowWaterBytes) {
        const ItemKey key = pending_.takeFirst();
        pendingSet_.remove(key);
        LinkTopic* topic = topicAt(key.first);
        const auto link = links_.constFind(key);
        if (!topic || link == links_.constEnd())
            continue;
        const ItemValue value = topic->value(key.second);
        socket_->write(*link == link::LinkMode::Hot
                           ? link::valueLine("UPDATE", topic->name(), key.second, value)
                           : link::changedLine(topic->name(), key.second, value.seq));
        afterWrite();
    }
}

// ---- reading ----------------------------------------------------------------

void LinkConnection::onReadyRead()
{
    in_ += socket_->readAll();
    const QByteArray tooLong = link::errorLine(
        "LINE_TOO_LONG", QStringLiteral("lines are at most %1 bytes").arg(limits_.maxLineBytes));
    qsizetype start = 0;
    while (!closing_ && !gone_) {
        const qsizetype end = in_.indexOf('\n', start);
        if (end < 0) {
            // One more byte: a CR may still wait for its LF.
            if (in_.size() - start > limits_.maxLineBytes + 1)
                closeAfter(tooLong);
            break;
        }
        const QByteArrayView line =
            link::chomp(QByteArrayView(in_).sliced(start, end - start + 1));
        start = end + 1;
        if (line.size() > limits_.maxLineBytes) {
            closeAfter(tooLong);
            break;
        }
        QString why;
        if (std::optional<link::Request> request = link::parseRequest(line, &why))
            handle(*request);
        else
            send(link::errorLine("BAD_REQUEST", why));
    }
    if (closing_ || gone_)
        in_.clear();
    else
        in_.remove(0, start);
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
    if (!topicAt(index)->hasItem(r.item)) {
        send(link::errorLine("UNKNOWN_ITEM",
                             QStringLiteral("topic %1 has no item %2").arg(r.topic, r.item)));
        return false;
    }
    *key = {index, r.item};
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
            topicAt(key.first)->aboutToGet(r.item);
            send(link::valueLine("VALUE", r.topic, r.item, topicAt(key.first)->value(r.item)));
        }
        return;
    case Command::Sub:
        if (resolve(r, &key)) {
            // Told before the link exists: what the topic sets on it goes
            // out once, as the current state below.
            if (!links_.contains(key))
                topicAt(key.first)->linked(this, r.item);
            links_.insert(key, r.mode);  // a second SUB only changes the mode
            send(link::okLine("SUB", r.topic, r.item, r.mode));
            enqueue(key);  // the current state at once
            flushPending();
        }
        return;
    case Command::Unsub:
        if (resolve(r, &key)) {
            if (links_.remove(key))
                topicAt(key.first)->unlinked(this, r.item);
            dropPending(key);
            send(link::okLine("UNSUB", r.topic, r.item));
        }
        return;
    case Command::Put:
        if (resolve(r, &key)) {
            const PutResult result = topicAt(key.first)->putFrom(this, r.item, r.value);
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

// ---- ending -----------------------------------------------------------------

void LinkConnection::closeAfter(const QByteArray& line)
{
    send(line);
    closing_ = true;
    pending_.clear();
    pendingSet_.clear();
    socket_->disconnectFromServer();  // once the queued bytes are out
}

void LinkConnection::drop(const QString& reason)
{
    if (gone_)
        return;
    qCWarning(lcConnection) << "link client cut off:" << reason;
    closing_ = true;
    stallTimer_.stop();
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
    links_.clear();
    for (const QPointer<LinkTopic>& topic : topics_)
        if (topic)
            topic->clientGone(this);
    emit finished();
}

} // namespace kalvor
