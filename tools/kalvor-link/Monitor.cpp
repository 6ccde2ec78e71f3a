// kalvor-link monitor: one line per update of the linked items, carried over
// restarts of the program, and waiting for it when it is not running yet.
#include "Commands.h"

#include "LinkClient.h"
#include "Output.h"

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
        if (std::optional<int> end = connect(true))
            return *end;
        printBytes(monitorHeader(options_));
        while (true) {
            QByteArray line;
            const LinkClient::Read read = client_.readLine(&line, 1000);
            if (read == LinkClient::Read::Timeout)
                continue;
            if (read == LinkClient::Read::TooLong) {
                printError(client_.describe(read, 0));
                return ExitItemFailed;
            }
            if (read == LinkClient::Read::Closed) {
                if (options_.format == Format::Text)
                    printLine(QStringLiteral("*** disconnected"));
                else
                    printError(QStringLiteral("*** disconnected"));
                if (!options_.wait)
                    return ExitNoProgram;
                if (std::optional<int> end = connect(false))
                    return *end;
                continue;
            }
            if (std::optional<int> done = handle(line))
                return *done;
        }
    }

private:
    // Connects and subscribes. While the program is not running, and the
    // monitor may wait, tries again every half second (saying so once at the
    // start). Returns the exit code when the monitor has to end instead.
    std::optional<int> connect(bool atStart)
    {
        bool waiting = false;
        while (true) {
            QString why;
            switch (client_.open(options_.timeoutMs, &why)) {
            case LinkClient::OpenError::None:
                subscribe();
                return std::nullopt;
            case LinkClient::OpenError::Refused:
                printError(why);
                return ExitItemFailed;
            case LinkClient::OpenError::NoProgram:
                if (!options_.wait) {
                    printError(why);
                    return ExitNoProgram;
                }
                if (atStart && !waiting)
                    printError(why + QStringLiteral("; waiting for it"));
                waiting = true;
                break;
            case LinkClient::OpenError::Unanswered:
                // Something answers but not (yet) as KALVOR does: at the
                // start that is an error, while waiting a program that is
                // starting or ending.
                if (atStart && !waiting) {
                    printError(why);
                    return ExitItemFailed;
                }
                break;
            }
            QThread::msleep(kRetryMs);
        }
    }

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
        client_.send(requests, options_.timeoutMs);
    }

    QString nameOf(const QString& topic, const QString& item) const
    {
        for (const Target& t : active_)
            if (t.item.topic == topic && t.item.item == item)
                return t.name;
        return topic + QLatin1Char(':') + item;
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
            printBytes(monitorLine(options_, {nameOf(item->topic, item->item), item->time,
                                              item->seq, item->text}));
        } else if (kind == QLatin1String("CHANGED") && reply->words.size() == 3) {
            bool ok = false;
            const quint64 seq = reply->words[2].toULongLong(&ok);
            if (!ok)
                return std::nullopt;
            // A warm link carries no time: the time of arrival stands for it.
            const QString now = link::formatTime(QDateTime::currentDateTimeUtc());
            printBytes(monitorLine(options_, {nameOf(reply->words[0], reply->words[1]), now,
                                              seq, std::nullopt}));
        } else {
            return std::nullopt;
        }
        if (outputFailed())
            return ExitItemFailed;
        if (outputClosed())
            return failed_ ? ExitItemFailed : ExitOk;
        if (options_.count > 0 && ++seen_ >= options_.count)
            return failed_ ? ExitItemFailed : ExitOk;
        return std::nullopt;
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
