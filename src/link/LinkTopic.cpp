#include "link/LinkTopic.h"

#include "link/LinkProtocol.h"

namespace kalvor {

LinkTopic::LinkTopic(QString name, QStringList items, QObject* parent)
    : QObject(parent), name_(std::move(name)), items_(std::move(items))
{
    entries_.resize(size_t(items_.size()));
    for (int i = 0; i < items_.size(); ++i)
        index_.insert(items_[i], i);
}

ItemValue LinkTopic::value(const QString& item) const
{
    const int i = itemIndex(item);
    return i < 0 ? ItemValue{} : entries_[size_t(i)].value;
}

void LinkTopic::set(const QString& item, const QString& text)
{
    const int i = itemIndex(item);
    Q_ASSERT_X(i >= 0, "LinkTopic::set", "unknown item");
    if (i < 0)
        return;
    Entry& e = entries_[size_t(i)];
    e.value.text = text;
    ++e.value.seq;
    e.value.time = QDateTime::currentDateTimeUtc();
    e.encoded = false;
    const ItemValue v = e.value;
    emit itemSet(item, v);
}

const ItemLines& LinkTopic::lines(int index) const
{
    Entry& e = entries_[size_t(index)];
    if (!e.encoded) {
        e.lines = link::itemLines(name_, items_[index], e.value);
        e.encoded = true;
    }
    return e.lines;
}

PutResult LinkTopic::put(const QString& item, const QString&)
{
    return {false, QStringLiteral("NOT_SUPPORTED"),
            QStringLiteral("items of topic %1 are read-only (%2)").arg(name_, item)};
}

PutResult LinkTopic::putFrom(LinkClient, const QString& item, const QString& text) { return put(item, text); }

void LinkTopic::aboutToGet(const QString&) {}

void LinkTopic::linked(LinkClient, const QString&) {}

void LinkTopic::unlinked(LinkClient, const QString&) {}

void LinkTopic::clientGone(LinkClient) {}

} // namespace kalvor
