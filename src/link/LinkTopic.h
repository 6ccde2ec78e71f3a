#pragma once
// A named set of text items that linked programs can request, watch and (where
// the topic allows) write. The main window's labels are served as topic "data".
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace kalvor {

struct ItemValue {
    QString text;
    quint64 seq = 0;  // number of sets of this item so far
    QDateTime time;   // UTC moment of the last set (invalid before the first)
};

struct PutResult {
    bool ok = true;
    QString code;    // e.g. "NOT_SUPPORTED", "BAD_VALUE" when !ok
    QString detail;  // human-readable explanation
};

// The lines that carry one state of an item to clients, each with its line end.
struct ItemLines {
    QByteArray value;    // VALUE <topic> <item> <seq> <time> "<text>"
    QByteArray update;   // UPDATE ..., the same fields
    QByteArray changed;  // CHANGED <topic> <item> <seq>
};

// One connected client, as the hooks below name it; valid until clientGone.
using LinkClient = const void*;

class LinkTopic : public QObject {
    Q_OBJECT
public:
    LinkTopic(QString name, QStringList items, QObject* parent = nullptr);

    const QString& name() const { return name_; }
    const QStringList& items() const { return items_; }
    bool hasItem(const QString& item) const { return index_.contains(item); }
    ItemValue value(const QString& item) const;
    QString text(const QString& item) const { return value(item).text; }

    // Every set counts, also when the text is unchanged: each one reaches linked clients.
    void set(const QString& item, const QString& text);

    // A write from a linked program. The base topic refuses it.
    virtual PutResult put(const QString& item, const QString& text);

    // Items by their place in items(), for the link service: -1 for an unknown name.
    int itemIndex(const QString& item) const { return index_.value(item, -1); }
    // The item's current lines, encoded at most once per set however many
    // clients receive them.
    const ItemLines& lines(int index) const;

    // Hooks for topics whose items cost something to keep current or that
    // must know who wrote them; the link service calls them, the base does
    // nothing (putFrom calls put).
    virtual PutResult putFrom(LinkClient client, const QString& item, const QString& text);
    virtual void aboutToGet(const QString& item);                 // before a GET is answered
    virtual void linked(LinkClient client, const QString& item);   // a new link (not a mode change)
    virtual void unlinked(LinkClient client, const QString& item); // UNSUB of a link
    virtual void clientGone(LinkClient client);                    // disconnected; its links are gone

signals:
    void itemSet(const QString& item, const kalvor::ItemValue& value);

private:
    struct Entry {
        ItemValue value;
        ItemLines lines;
        bool encoded = false;
    };

    QString name_;
    QStringList items_;
    QHash<QString, int> index_;
    mutable std::vector<Entry> entries_;
};

} // namespace kalvor
