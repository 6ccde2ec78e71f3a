#pragma once
// One client of the link service: reads its requests, answers them in order
// and sends the updates of the items it links. Updates wait while the client
// has much unread; meanwhile each item keeps only its latest set, so a slow
// client sees a gap in seq instead of holding up anybody else. Replies leave
// in the turn of the event loop that read their requests; when the client ends
// its input, what it sent is answered, the replies go out, and the connection
// closes.
#include "link/LinkLimits.h"
#include "link/LinkProtocol.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace kalvor {

class LinkSocket;
class LinkTopic;

class LinkConnection : public QObject {
    Q_OBJECT
public:
    using Topics = QList<QPointer<LinkTopic>>;

    // Takes over `socket`; `topics` and `limits` must outlive the connection.
    LinkConnection(LinkSocket* socket, const Topics& topics, const LinkLimits& limits,
                   QObject* parent = nullptr);

    void greet();
    // Item `itemIndex` of topics[topicIndex] was set.
    void notify(int topicIndex, int itemIndex);
    // Ends the connection at once and without signals (the server is closing).
    void shutdown();
    // When the client has closed its connection (not only its writing side),
    // handles what it sent and ends now, as the event loop would when it
    // comes to it; returns whether the connection is over.
    bool endIfPeerGone();

signals:
    // The connection is over (peer gone, QUIT, or cut off); emitted once.
    void finished();
    void cutOff(const QString& reason);

private:
    // A topic's index and an item's index in it, in one word.
    using ItemKey = quint32;
    static ItemKey keyOf(int topicIndex, int itemIndex)
    {
        Q_ASSERT(topicIndex >= 0 && topicIndex < 0x10000 && itemIndex >= 0 && itemIndex < 0x10000);
        return ItemKey(topicIndex) << 16 | ItemKey(itemIndex);
    }
    static int topicOf(ItemKey key) { return int(key >> 16); }
    static int itemOf(ItemKey key) { return int(key & 0xFFFF); }

    void onReadyRead();
    void handleLine(QByteArrayView line);
    void endOfInput();
    void handle(const link::Request& r);
    int topicIndex(const QString& name) const;
    LinkTopic* topicAt(int index) const;
    bool resolve(const link::Request& r, ItemKey* key);
    void send(const QByteArray& line);
    void sendNow();
    void enqueue(ItemKey key);
    void dropPending(ItemKey key);
    void writePending();
    void onBytesWritten();
    void trackProgress(qint64 sent);
    void armIdle();
    void onIdle();
    void closeAfter(const QByteArray& line);
    void drop(const QString& reason);
    void finish();

    LinkSocket* const socket_;
    const Topics& topics_;
    const LinkLimits& limits_;
    QByteArray in_;
    QHash<ItemKey, link::LinkMode> links_;
    QList<ItemKey> pending_;  // linked items with an unsent set, oldest first
    QTimer stallTimer_;
    QTimer idleTimer_;
    QElapsedTimer sinceRequest_;
    bool closing_ = false;  // no more requests or updates; the queued bytes still go out
    bool gone_ = false;
};

} // namespace kalvor
