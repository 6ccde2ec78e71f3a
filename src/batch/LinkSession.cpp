#include "batch/LinkSession.h"

#include "link/LinkTrust.h"

namespace kalvor::batch {

namespace {
constexpr int kRetryMs = 500;
constexpr int kGreetingMs = 3000;
constexpr qsizetype kMaxLine = 64 * 1024;

QString key(const QString& topic, const QString& item) { return topic + QLatin1Char('!') + item; }
} // namespace

LinkSession::LinkSession(QString socketPath, QList<link::ItemName> items, QObject* parent)
    : QObject(parent), path_(std::move(socketPath)), items_(std::move(items))
{
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &LinkSession::connectNow);
    greetingTimeout_.setSingleShot(true);
    greetingTimeout_.setInterval(kGreetingMs);
    connect(&greetingTimeout_, &QTimer::timeout, this, [this] { onGone(QStringLiteral("no greeting")); });
    stateText_ = QStringLiteral("waiting for KALVOR");
}

LinkSession::~LinkSession() { stop(); }

void LinkSession::start()
{
    running_ = true;
    connectNow();
}

void LinkSession::stop()
{
    running_ = false;
    retry_.stop();
    greetingTimeout_.stop();
    if (socket_) {
        socket_->disconnect(this);
        // What was asked last (the LED off at the end) still goes out.
        if (socket_->state() == QLocalSocket::ConnectedState && socket_->bytesToWrite() > 0)
            socket_->waitForBytesWritten(500);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
}

void LinkSession::setState(State state, const QString& text)
{
    if (state_ == state && stateText_ == text)
        return;
    state_ = state;
    stateText_ = text;
    emit stateChanged(state, text);
}

void LinkSession::connectNow()
{
    if (!running_)
        return;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    in_.clear();
    pending_.clear();
    greeted_ = false;
    socket_ = nullptr;
    QString why;
    switch (LinkTrust::checkPath(path_, &why)) {
    case LinkTrust::Verdict::Trusted:
        break;
    case LinkTrust::Verdict::Absent:
        setState(State::Waiting, QStringLiteral("waiting for KALVOR (no link socket at %1)").arg(path_));
        retry_.start();
        return;
    case LinkTrust::Verdict::Refused:
        setState(State::Refused, QStringLiteral("the link socket is not to be trusted: %1").arg(why));
        retry_.start();
        return;
    }
    socket_ = new QLocalSocket(this);
    connect(socket_, &QLocalSocket::connected, this, &LinkSession::onConnected);
    connect(socket_, &QLocalSocket::readyRead, this, &LinkSession::onReadyRead);
    connect(socket_, &QLocalSocket::disconnected, this, [this] { onGone(QStringLiteral("KALVOR ended the link")); });
    connect(socket_, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        onGone(socket_ ? socket_->errorString() : QString());
    });
    socket_->connectToServer(path_);
}

void LinkSession::onConnected()
{
    // The server at the other end must run as this user.
    QString why;
    if (LinkTrust::checkPeer(socket_->socketDescriptor(), path_, &why) != LinkTrust::Verdict::Trusted) {
        onGone(QStringLiteral("the program at the link socket is not to be trusted: %1").arg(why), true);
        return;
    }
    greetingTimeout_.start();
}

void LinkSession::onGone(const QString& why, bool refused)
{
    if (!socket_)
        return;
    greetingTimeout_.stop();
    QLocalSocket* s = socket_;
    socket_ = nullptr;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
    if (refused)
        setState(State::Refused, why);
    else if (state_ == State::Connected)
        setState(State::Waiting, QStringLiteral("link to KALVOR lost (%1); waiting for it").arg(why));
    else
        setState(State::Waiting, QStringLiteral("waiting for KALVOR (%1)").arg(why));
    if (running_)
        retry_.start();
}

void LinkSession::send(const link::Request& r)
{
    if (!socket_ || !greeted_)
        return;
    pending_.append(Pending{r.command, r.topic, r.item});
    socket_->write(link::formatRequest(r));
}

bool LinkSession::put(const QString& topic, const QString& item, const QString& value)
{
    if (state_ != State::Connected || !socket_)
        return false;
    link::Request r;
    r.command = link::Command::Put;
    r.topic = topic;
    r.item = item;
    r.value = value;
    send(r);
    // Out now, not after whatever else this turn of the event loop does (the
    // window redrawing): the head confirms a record as soon as it is stored.
    socket_->flush();
    return true;
}

void LinkSession::onReadyRead()
{
    if (!socket_)
        return;
    in_ += socket_->readAll();
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = in_.indexOf('\n', start);
        if (end < 0)
            break;
        handleLine(link::chomp(QByteArrayView(in_).sliced(start, end - start + 1)));
        start = end + 1;
        if (!socket_)
            return;  // handling the line ended the connection
    }
    in_.remove(0, start);
    if (in_.size() > kMaxLine)
        onGone(QStringLiteral("a line from the link service is too long"));
}

void LinkSession::handleLine(QByteArrayView line)
{
    if (!greeted_) {
        greetingTimeout_.stop();
        if (!line.startsWith("HELLO LINK/1 ")) {
            onGone(QStringLiteral("KALVOR refused the link: %1")
                       .arg(QString::fromUtf8(line.first(std::min<qsizetype>(line.size(), 200)))),
                   true);
            return;
        }
        greeted_ = true;
        freshItems_.clear();
        for (const link::ItemName& name : std::as_const(items_)) {
            freshItems_.insert(key(name.topic, name.item));
            link::Request sub;
            sub.command = link::Command::Sub;
            sub.topic = name.topic;
            sub.item = name.item;
            sub.mode = link::LinkMode::Hot;
            send(sub);
        }
        // Replies come in order and each SUB's current value right after its
        // OK: at the PONG every linked item has been heard once.
        link::Request ping;
        ping.command = link::Command::Ping;
        send(ping);
        return;
    }
    const std::optional<link::Reply> reply = link::parseReply(line);
    if (!reply)
        return;
    if (reply->kind == QLatin1String("UPDATE")) {
        if (const std::optional<link::ItemReply> it = link::itemReply(*reply)) {
            const bool fresh = freshItems_.remove(key(it->topic, it->item));
            const ItemValue v{it->text, it->seq, QDateTime::fromString(it->time, Qt::ISODateWithMs)};
            emit itemUpdated(it->topic, it->item, v, fresh);
        }
        return;
    }
    if (reply->kind != QLatin1String("OK") && reply->kind != QLatin1String("ERR")
        && reply->kind != QLatin1String("PONG"))
        return;  // CHANGED, ...
    if (pending_.isEmpty())
        return;
    const Pending p = pending_.takeFirst();
    if (p.command == link::Command::Ping) {
        setState(State::Connected, QStringLiteral("connected to KALVOR"));
        return;
    }
    const bool ok = reply->kind == QLatin1String("OK");
    const QString error = ok ? QString() : reply->errorCode + QLatin1Char(' ') + reply->errorText;
    if (p.command == link::Command::Put)
        emit putDone(p.topic, p.item, ok, error);
    else if (p.command == link::Command::Sub && !ok)
        emit linkRefused(p.topic, p.item, error);
}

} // namespace kalvor::batch
