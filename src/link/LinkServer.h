#pragma once
// The link service: serves LinkTopics to other programs of the same user over
// a Unix domain socket (see docs/link-protocol.md). Runs on the thread that
// owns it and never blocks it: a client that does not read is sent only the
// latest value of each linked item and is cut off when it falls too far behind.
#include "link/LinkLimits.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

namespace kalvor {

class LinkConnection;
class LinkSocket;
class LinkTopic;

class LinkServer : public QObject {
    Q_OBJECT
public:
    // The topics must outlive the server or be destroyed before it; TOPICS
    // lists them in this order.
    explicit LinkServer(QList<LinkTopic*> topics, QObject* parent = nullptr);
    LinkServer(QList<LinkTopic*> topics, const LinkLimits& limits, QObject* parent = nullptr);
    ~LinkServer() override;

    // Listens at `socketPath`, whose folder the caller has prepared
    // (LinkPaths::prepareDir) and whose InstanceLock the caller holds. A socket
    // left there by a crashed copy is replaced; a socket that still answers,
    // or a path that is not a socket, is left alone and listen fails.
    bool listen(const QString& socketPath, QString* why);
    // Stops listening, drops every client and removes the socket file.
    void close();

    bool isListening() const;
    QString socketPath() const { return socketPath_; }
    int clientCount() const { return int(connections_.size()); }
    const LinkLimits& limits() const { return limits_; }

signals:
    void clientCountChanged(int count);
    // A connection refused or cut off by the server, with the reason.
    void clientDropped(const QString& reason);

private:
    class Listener;

    void accept(int fd);
    // Ends the connections whose clients have closed; returns how many are left.
    int reapClosed();
    void refuse(LinkSocket* socket, QByteArrayView code, const QString& detail);
    void removeConnection(LinkConnection* connection);
    void onItemSet(int topicIndex, const QString& item);

    QList<QPointer<LinkTopic>> topics_;
    LinkLimits limits_;
    Listener* server_ = nullptr;
    QString socketPath_;
    dev_t socketDev_ = 0;
    ino_t socketIno_ = 0;
    std::vector<LinkConnection*> connections_;
};

} // namespace kalvor
