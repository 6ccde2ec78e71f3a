// kalvor-link monitor: one line per update of the linked items, carried over
// restarts of the program.
#include "Commands.h"

#include "LinkClient.h"

#include <QDateTime>
#include <QThread>

namespace kalvor::tool {

namespace {

constexpr int kRetryMs = 500;

class Monitor {
public:
    Monitor(const Options& options, const QList<Target>& targets)
        : options_(options), active_(targets), client_(options.socketPath)
    {
    }

    int run()
    {
        QString why;
        switch (client_.open(options_.timeoutMs, &why)) {
        case LinkClient::OpenError::None:
            break;
        case LinkClient::OpenError::NoProgram:
            printError(why);
            return ExitNoProgram;
        case LinkClient::OpenError::Refused:
            printError(why);
            return ExitItemFailed;
        }
        subscribe();
        while (true) {
            QByteArray line;
            switch (client_.readLine(&line, 1000)) {
            case LinkClient::Read::Timeout:
                continue;
            case LinkClient::Read::Closed:
                printLine(QStringLiteral("*** disconnected"));
                reconnect();
                continue;
            case LinkClient::Read::Line:
                break;
            }
            if (std::optional<int> done = handle(line))
                return *done;
        }
    }

private:
    void subscribe()
    {
        awaiting_.clear();
        QByteArray requests;
        for (const Target& t : std::as_const(active_)) {
            link::Request sub = request(link::Command::Sub, t.item.topic, t.item.item);
            sub.mode = options_.warm ? link::LinkMode::Warm : link::LinkMode::Hot;
            requests += link::formatRequest(sub);
            awaiting_.append(t);
        }
        client_.send(requests);
    }

    void reconnect()
    {
        QString why;
        do
            QThread::msleep(kRetryMs);
        while (client_.open(options_.timeoutMs, &why) != LinkClient::OpenError::None);
        subscribe();
    }

    QString nameOf(const QString& topic, const QString& item) const
    {
        for (const Target& t : active_)
            if (t.item.topic == topic && t.item.item == item)
                return t.name;
        return topic + QLatin1Char('!') + item;
    }

    // Returns the exit code once the monitor is done.
    std::optional<int> handle(const QByteArray& line)
    {
        const std::optional<link::Reply> reply = link::parseReply(line);
        if (!reply) {
            printError(QStringLiteral("unreadable line: %1").arg(QString::fromUtf8(line)));
            return std::nullopt;
        }
        const QString& kind = reply->kind;
        if (kind == QLatin1String("ERR") || kind == QLatin1String("OK")) {
            // Each SUB is answered in order by OK or ERR.
            if (awaiting_.isEmpty())
                return std::nullopt;
            const Target t = awaiting_.takeFirst();
            if (kind == QLatin1String("ERR")) {
                printError(QStringLiteral("%1: %2 %3").arg(t.name, reply->errorCode,
                                                          reply->errorText));
                failed_ = true;
                active_.removeIf([&](const Target& a) { return a.name == t.name; });
                if (active_.isEmpty())
                    return ExitItemFailed;
            }
            return std::nullopt;
        }
        if (kind == QLatin1String("UPDATE")) {
            const std::optional<link::ItemReply> item = link::itemReply(*reply);
            if (!item)
                return std::nullopt;
            print(nameOf(item->topic, item->item), item->time, showValue(options_, item->text));
        } else if (kind == QLatin1String("CHANGED") && reply->words.size() == 3) {
            print(nameOf(reply->words[0], reply->words[1]),
                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                  QStringLiteral("changed ") + reply->words[2]);
        } else {
            return std::nullopt;
        }
        if (options_.count > 0 && ++seen_ >= options_.count)
            return failed_ ? ExitItemFailed : ExitOk;
        return std::nullopt;
    }

    void print(const QString& name, const QString& time, const QString& value)
    {
        const QString stamped = time + QLatin1Char(' ') + value;
        printLine(options_.terse ? stamped : name + QLatin1Char(' ') + stamped);
    }

    const Options& options_;
    QList<Target> active_;
    QList<Target> awaiting_;
    LinkClient client_;
    qint64 seen_ = 0;
    bool failed_ = false;
};

} // namespace

int runMonitor(const Options& options, const QList<Target>& targets)
{
    return Monitor(options, targets).run();
}

} // namespace kalvor::tool
