#include "core/MessageCatalog.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace kalvor {

MessageCatalog::MessageCatalog()
{
    QFile file(QStringLiteral(":/kalvor/messages.json"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("KALVOR: the message catalogue resource is missing");
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull())
        qFatal("KALVOR: the message catalogue does not parse: %s", qPrintable(error.errorString()));
    const QJsonObject messages = doc.object().value(QStringLiteral("messages")).toObject();
    for (auto it = messages.begin(); it != messages.end(); ++it) {
        bool ok = false;
        const int id = it.key().toInt(&ok);
        if (!ok || !it.value().isString())
            qFatal("KALVOR: bad message catalogue entry %s", qPrintable(it.key()));
        texts_.insert(id, it.value().toString());
    }
}

const MessageCatalog& MessageCatalog::instance()
{
    static const MessageCatalog catalog;
    return catalog;
}

std::optional<QString> MessageCatalog::find(int id) const
{
    const auto it = texts_.constFind(id);
    if (it == texts_.constEnd())
        return std::nullopt;
    return *it;
}

QList<int> MessageCatalog::ids() const
{
    QList<int> ids = texts_.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString loadText(int id)
{
    const auto text = MessageCatalog::instance().find(id);
    if (!text)
        qFatal("KALVOR: message catalogue has no text for id %d", id);
    return *text;
}

} // namespace kalvor
