#include "Commands.h"

#include "LinkClient.h"
#include "Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kalvor::tool {

namespace {

bool& outputFailedFlag()
{
    static bool flag = false;
    return flag;
}

bool& outputClosedFlag()
{
    static bool flag = false;
    return flag;
}

// Opens the connection, or says why not and gives the exit code to end with.
bool openOrReport(LinkClient& client, const Options& options, int* exitCode)
{
    QString why;
    switch (client.open(options.timeoutMs, &why)) {
    case LinkClient::OpenError::None:
        return true;
    case LinkClient::OpenError::NoProgram:
        *exitCode = ExitNoProgram;
        break;
    case LinkClient::OpenError::Refused:
    case LinkClient::OpenError::Unanswered:
        *exitCode = ExitItemFailed;
        break;
    }
    printError(why);
    return false;
}

// Reads the reply to one request; the link service answers requests in order.
std::optional<link::Reply> readReply(LinkClient& client, const Options& options)
{
    QByteArray line;
    const LinkClient::Read read = client.readLine(&line, options.timeoutMs);
    if (read != LinkClient::Read::Line) {
        printError(client.describe(read, options.timeoutMs));
        return std::nullopt;
    }
    QString why;
    std::optional<link::Reply> reply = link::parseReply(line, &why);
    if (!reply)
        printError(QStringLiteral("unreadable reply (%1): %2").arg(why, QString::fromUtf8(line)));
    return reply;
}

// Sends requests, or says that the program did not take them in time.
bool sendOrReport(LinkClient& client, const QByteArray& requests, const Options& options)
{
    if (client.send(requests, options.timeoutMs))
        return true;
    printError(QStringLiteral("%1 took no request within %2 ms").arg(client.path()).arg(options.timeoutMs));
    return false;
}

void reportError(const QString& name, const link::Reply& reply)
{
    printError(QStringLiteral("%1: %2 %3").arg(name, reply.errorCode, reply.errorText).trimmed());
}

bool isError(const link::Reply& reply) { return reply.kind == QLatin1String("ERR"); }

} // namespace

link::Request request(link::Command command, const QString& topic, const QString& item)
{
    link::Request r;
    r.command = command;
    r.topic = topic;
    r.item = item;
    return r;
}

void printLine(const QString& text) { printBytes(text.toUtf8() + '\n'); }

bool printBytes(const QByteArray& bytes)
{
    if (outputFailedFlag() || outputClosedFlag())
        return false;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
        && std::fflush(stdout) == 0)
        return true;
    const int err = errno;
    if (err == EPIPE) {
        outputClosedFlag() = true;
        return false;
    }
    outputFailedFlag() = true;
    printError(QStringLiteral("cannot write to standard output: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(err ? err : EIO))));
    return false;
}

bool outputFailed() { return outputFailedFlag(); }

bool outputClosed() { return outputClosedFlag(); }

void printError(const QString& text)
{
    std::fprintf(stderr, "kalvor-link: %s\n", text.toUtf8().constData());
}

int runGet(const Options& options, const QList<Target>& targets)
{
    LinkClient client(options.socketPath);
    int code = ExitOk;
    if (!openOrReport(client, options, &code))
        return code;
    QByteArray requests;
    for (const Target& t : targets)
        requests += link::formatRequest(request(link::Command::Get, t.item.topic, t.item.item));
    if (!sendOrReport(client, requests, options))
        return ExitItemFailed;
    for (const Target& t : targets) {
        const std::optional<link::Reply> reply = readReply(client, options);
        if (!reply)
            return ExitItemFailed;
        if (isError(*reply)) {
            reportError(t.name, *reply);
            code = ExitItemFailed;
            continue;
        }
        const std::optional<link::ItemReply> item = link::itemReply(*reply);
        if (!item) {
            printError(QStringLiteral("%1: unexpected reply %2").arg(t.name, reply->kind));
            return ExitItemFailed;
        }
        printBytes(getLine(options, {t.name, item->time, item->seq, item->text}));
    }
    client.send(link::formatRequest(request(link::Command::Quit)), options.timeoutMs);
    return code;
}

int runPut(const Options& options, const Target& target, const QString& value)
{
    LinkClient client(options.socketPath);
    int code = ExitOk;
    if (!openOrReport(client, options, &code))
        return code;
    link::Request put = request(link::Command::Put, target.item.topic, target.item.item);
    put.value = value;
    if (!sendOrReport(client, link::formatRequest(put), options))
        return ExitItemFailed;
    const std::optional<link::Reply> reply = readReply(client, options);
    if (!reply)
        return ExitItemFailed;
    if (isError(*reply)) {
        reportError(target.name, *reply);
        return ExitItemFailed;
    }
    if (reply->kind != QLatin1String("OK")) {
        printError(QStringLiteral("%1: unexpected reply %2").arg(target.name, reply->kind));
        return ExitItemFailed;
    }
    client.send(link::formatRequest(request(link::Command::Quit)), options.timeoutMs);
    // The LED is lit for as long as its client stays connected, and this one
    // leaves now.
    if (target.item.topic == QLatin1String("reader") && target.item.item == QLatin1String("led")
        && value.trimmed() == QLatin1String("1"))
        printError(QStringLiteral("%1 1 lights the LED only while its client stays connected, so it goes off "
                                  "again as kalvor-link ends; give a duration in milliseconds instead, such as "
                                  "kalvor-link put %1 5000")
                       .arg(target.name));
    return ExitOk;
}

int runTopics(const Options& options)
{
    LinkClient client(options.socketPath);
    int code = ExitOk;
    if (!openOrReport(client, options, &code))
        return code;
    if (!sendOrReport(client, link::formatRequest(request(link::Command::Topics)), options))
        return ExitItemFailed;
    const std::optional<link::Reply> reply = readReply(client, options);
    if (!reply || reply->kind != QLatin1String("TOPICS"))
        return ExitItemFailed;
    for (const QString& topic : reply->words)
        printLine(topic);
    return ExitOk;
}

int runItems(const Options& options, const QString& topic)
{
    LinkClient client(options.socketPath);
    int code = ExitOk;
    if (!openOrReport(client, options, &code))
        return code;
    if (!sendOrReport(client, link::formatRequest(request(link::Command::Items, topic)), options))
        return ExitItemFailed;
    const std::optional<link::Reply> reply = readReply(client, options);
    if (!reply)
        return ExitItemFailed;
    if (isError(*reply)) {
        reportError(topic, *reply);
        return ExitItemFailed;
    }
    if (reply->kind != QLatin1String("ITEMS") || reply->words.isEmpty())
        return ExitItemFailed;
    for (const QString& item : reply->words.mid(1))
        printLine(item);
    return ExitOk;
}

} // namespace kalvor::tool
