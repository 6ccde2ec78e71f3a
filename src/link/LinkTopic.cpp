#include "link/LinkTopic.h"

#include <QTimeZone>

namespace kalvor {

LinkTopic::LinkTopic(QString name, QStringList items, QObject* parent)
    : QObject(parent), name_(std::move(name)), items_(std::move(items))
{
    for (const QString& item : items_)
        values_.insert(item, ItemValue{});
}

void LinkTopic::set(const QString& item, const QString& text)
{
    auto it = values_.find(item);
    Q_ASSERT_X(it != values_.end(), "LinkTopic::set", "unknown item");
    if (it == values_.end())
        return;
    it->text = text;
    ++it->seq;
    it->time = QDateTime::currentDateTimeUtc();
    const ItemValue v = *it;
    emit itemSet(item, v);
}

PutResult LinkTopic::put(const QString& item, const QString&)
{
    return {false, QStringLiteral("NOT_SUPPORTED"),
            QStringLiteral("items of topic %1 are read-only (%2)").arg(name_, item)};
}

} // namespace kalvor
