#include "link/LinkServer.h"

#include "link/LinkTopic.h"
#include "link/LinkConnection.h"
#include "link/LinkProtocol.h"
#include "link/LinkSocket.h"

#include <QFile>
#include <QSocketNotifier>
#include <QLoggingCategory>
#include <QTimer>

#include <functional>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kalvor {

namespace {

Q_LOGGING_CATEGORY(lcLink, "kalvor.link")

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

std::optional<uid_t> peerUidOf(qintptr fd)
{
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (fd < 0 || ::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return std::nullopt;
    return cred.uid;
}

enum class Probe { Absent, Stale, Live, NotSocket, Error };

// What sits at `path`: nothing, a socket nobody listens on, a live socket, or
// something else. Connecting to a Unix socket never blocks.
Probe probeSocketPath(const QByteArray& path, QString* why)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno == ENOENT)
            return Probe::Absent;
        *why = errnoText(errno);
        return Probe::Error;
    }
    if (!S_ISSOCK(st.st_mode))
        return Probe::NotSocket;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = errnoText(errno);
        return Probe::Error;
    }
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int err = errno;
    ::close(fd);
    if (rc == 0 || err == EAGAIN || err == EINPROGRESS)
        return Probe::Live;
    if (err == ECONNREFUSED)
        return Probe::Stale;
    *why = errnoText(err);
    return Probe::Error;
}

} // namespace

// Listens and accepts; each accepted descriptor goes to the link service as it
// stands, to be served by a LinkSocket. (QLocalServer of Qt 6.4 stops
// listening for good after one failed accept, such as EMFILE when the process
// is out of descriptors.) A failed accept pauses the listening for a moment
// and then goes on; the connection that waits stays in the kernel's backlog.
class LinkServer::Listener final : public QObject {
public:
    static constexpr int kRetryMs = 100;

    Listener(std::function<void(int)> accepted, QObject* parent)
        : QObject(parent), accepted_(std::move(accepted))
    {
        retry_.setSingleShot(true);
        retry_.setInterval(kRetryMs);
        QObject::connect(&retry_, &QTimer::timeout, this, [this] {
            if (notifier_)
                notifier_->setEnabled(true);
        });
    }

    ~Listener() override
    {
        delete notifier_;
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool listen(const QByteArray& path, QString* why)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0)
            return fail(why, errnoText(errno));
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
            || ::listen(fd_, SOMAXCONN) != 0)
            return fail(why, errnoText(errno));
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { acceptWaiting(); });
        return true;
    }

    bool isListening() const { return fd_ >= 0 && notifier_; }

private:
    // Out of descriptors (EMFILE) UBSan cannot probe a vtable (it needs a
    // pipe for that) and would call every member call here a bad type.
#if defined(__GNUC__)
    __attribute__((no_sanitize("vptr")))
#endif
    void acceptWaiting()
    {
        // A few at a time, so that a crowd does not hold up the readings.
        for (int i = 0; i < 16; ++i) {
            const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                accepted_(fd);
                continue;
            }
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK)
                return;
            if (err == EINTR || err == ECONNABORTED || err == EPROTO)
                continue; // that client is gone; others may wait
            qCWarning(lcLink) << "link service cannot accept a connection:" << errnoText(err)
                              << "- trying again in" << kRetryMs << "ms";
            notifier_->setEnabled(false);
            retry_.start();
            return;
        }
    }

    std::function<void(int)> accepted_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer retry_;
};

LinkServer::LinkServer(QList<LinkTopic*> topics, QObject* parent)
    : LinkServer(std::move(topics), LinkLimits{}, parent)
{
}

LinkServer::LinkServer(QList<LinkTopic*> topics, const LinkLimits& limits, QObject* parent)
    : QObject(parent), limits_(limits)
{
    for (int i = 0; i < topics.size(); ++i) {
        topics_.append(topics[i]);
        connect(topics[i], &LinkTopic::itemSet, this,
                [this, i](const QString& item, const ItemValue&) { onItemSet(i, item); });
    }
}

LinkServer::~LinkServer() { close(); }

bool LinkServer::isListening() const { return server_ && server_->isListening(); }

bool LinkServer::listen(const QString& socketPath, QString* why)
{
    if (isListening())
        return fail(why, QStringLiteral("the link service already listens at %1").arg(socketPath_));
    const QByteArray path = QFile::encodeName(socketPath);
    if (path.size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return fail(why, QStringLiteral("the socket path %1 is longer than %2 bytes")
                             .arg(socketPath)
                             .arg(sizeof(sockaddr_un::sun_path) - 1));

    QString detail;
    switch (probeSocketPath(path, &detail)) {
    case Probe::Absent:
        break;
    case Probe::Stale:
        qCInfo(lcLink) << "replacing the stale link socket" << socketPath;
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            return fail(why, QStringLiteral("cannot remove the stale socket %1: %2")
                                 .arg(socketPath, errnoText(errno)));
        break;
    case Probe::Live:
        return fail(why, QStringLiteral("another program already serves the socket %1; "
                                        "it was left alone")
                             .arg(socketPath));
    case Probe::NotSocket:
        return fail(why, QStringLiteral("%1 exists and is not a socket; it was left alone. "
                                        "Move it away and start again")
                             .arg(socketPath));
    case Probe::Error:
        return fail(why, QStringLiteral("cannot inspect %1: %2").arg(socketPath, detail));
    }

    auto* server = new Listener([this](int fd) { accept(fd); }, this);
    if (QString error; !server->listen(path, &error)) {
        delete server;
        return fail(why, QStringLiteral("cannot listen at %1: %2").arg(socketPath, error));
    }
    struct stat st {};
    if (::chmod(path.constData(), 0600) != 0 || ::lstat(path.constData(), &st) != 0) {
        const int err = errno;
        delete server;
        ::unlink(path.constData());
        return fail(why, QStringLiteral("cannot restrict %1 to its owner: %2")
                             .arg(socketPath, errnoText(err)));
    }
    server_ = server;
    socketPath_ = socketPath;
    socketDev_ = st.st_dev;
    socketIno_ = st.st_ino;
    qCInfo(lcLink) << "link service listening at" << socketPath;
    return true;
}

void LinkServer::close()
{
    const bool hadClients = !connections_.empty();
    for (LinkConnection* c : std::exchange(connections_, {})) {
        c->shutdown();
        c->deleteLater();
    }
    if (server_) {
        delete server_;
        server_ = nullptr;
        // Remove the socket only if it is still the one this server made.
        const QByteArray path = QFile::encodeName(socketPath_);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == socketDev_
            && st.st_ino == socketIno_)
            ::unlink(path.constData());
    }
    if (hadClients)
        emit clientCountChanged(0);
}

void LinkServer::accept(int fd)
{
    auto* socket = new LinkSocket(fd, this);
    const uid_t allowed = limits_.peerUid.value_or(::geteuid());
    const std::optional<uid_t> peer = peerUidOf(fd);
    if (!peer) {
        refuse(socket, "ACCESS_DENIED", QStringLiteral("cannot identify the peer"));
    } else if (*peer != allowed) {
        refuse(socket, "ACCESS_DENIED",
               QStringLiteral("peer of user id %1 refused; only user id %2 may connect")
                   .arg(*peer)
                   .arg(allowed));
    } else if (int(connections_.size()) >= limits_.maxClients && reapClosed() >= limits_.maxClients) {
        refuse(socket, "TOO_MANY_CLIENTS",
               QStringLiteral("at most %1 clients at a time").arg(limits_.maxClients));
    } else {
        auto* c = new LinkConnection(socket, topics_, limits_, this);
        connect(c, &LinkConnection::cutOff, this, &LinkServer::clientDropped);
        connect(c, &LinkConnection::finished, this, [this, c] { removeConnection(c); });
        connections_.push_back(c);
        emit clientCountChanged(clientCount());
        c->greet();
    }
}

int LinkServer::reapClosed()
{
    // Clients that have closed whose end the event loop has not yet come to.
    const std::vector<LinkConnection*> snapshot = connections_;
    for (LinkConnection* c : snapshot)
        c->endIfPeerGone(); // removes it from connections_ when it ends
    return int(connections_.size());
}

void LinkServer::refuse(LinkSocket* socket, QByteArrayView code, const QString& detail)
{
    qCWarning(lcLink) << "link client refused:" << code << detail;
    connect(socket, &LinkSocket::closed, socket, &QObject::deleteLater);
    QTimer::singleShot(limits_.stallTimeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(link::errorLine(code, detail));
    socket->closeAfterQueue();
    emit clientDropped(QString::fromLatin1(code) + QLatin1Char(' ') + detail);
}

void LinkServer::removeConnection(LinkConnection* connection)
{
    const auto it = std::find(connections_.begin(), connections_.end(), connection);
    if (it == connections_.end())
        return;
    connections_.erase(it);
    connection->deleteLater();
    emit clientCountChanged(clientCount());
}

void LinkServer::onItemSet(int topicIndex, const QString& item)
{
    const LinkTopic* topic = topics_.value(topicIndex);
    const int itemIndex = topic ? topic->itemIndex(item) : -1;
    if (itemIndex < 0 || connections_.empty())
        return;
    // A client cut off on the way leaves the list; the copy keeps the walk valid
    // (connections are deleted later, from the event loop).
    const std::vector<LinkConnection*> snapshot = connections_;
    for (LinkConnection* c : snapshot)
        c->notify(topicIndex, itemIndex);
}

} // namespace kalvor
