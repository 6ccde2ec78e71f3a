#pragma once
// One client of the link service: reads its requests, answers them in order
// and sends the updates of the items it links. Updates wait while the client
// has much unread; meanwhile each item keeps only its latest set, so a slow
// client sees a gap in seq instead of holding up anybody else.
#include "link/LinkLimits.h"
#include "link/LinkProtocol.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

class QLocalSocket;

namespace kalvor {

class LinkTopic;

class LinkConnection : public QObject {
    Q_OBJECT
public:
    using Topics = QList<QPointer<LinkTopic>>;

    // Takes over `socket`; `topics` and `limits` must outlive the connection.
    LinkConnection(QLocalSocket* socket, const Topics& topics, const LinkLimits& limits,
                   QObject* parent = nullptr);

    void greet();
    // Item `item` of topics[topicIndex] was set.
    void notify(int topicIndex, const QString& item);
    // Ends the connection at once and without signals (the server is closing).
    void shutdown();

signals:
    // The connection is over (peer gone, QUIT, or cut off); emitted once.
    void finished();
    void cutOff(const QString& reason);

private:
    using ItemKey = QPair<int, QString>;  // topic index, item name

    void onReadyRead();
    void handle(const link::Request& r);
    int topicIndex(const QString& name) const;
    LinkTopic* topicAt(int index) const;
    bool resolve(const link::Request& r, ItemKey* key);
    void send(const QByteArray& line);
    void enqueue(const ItemKey& key);
    void dropPending(const ItemKey& key);
    void flushPending();
    void afterWrite();
    void onBytesWritten();
    void closeAfter(const QByteArray& line);
    void drop(const QString& reason);
    void finish();

    QLocalSocket* const socket_;
    const Topics& topics_;
    const LinkLimits& limits_;
    QByteArray in_;
    QHash<ItemKey, link::LinkMode> links_;
    QList<ItemKey> pending_;  // linked items with an unsent set, oldest first
    QSet<ItemKey> pendingSet_;
    QTimer stallTimer_;
    bool closing_ = false;  // no more requests or updates; the queued bytes still go out
    bool gone_ = false;
};

} // namespace kalvor
