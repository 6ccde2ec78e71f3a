#pragma once
// The text protocol of the link service: UTF-8 lines ending in LF. A line is a
// few blank-separated words, optionally followed by one value in double quotes
// that is always the last field. Values are never trimmed; inside the quotes
// \\ \" \n \r \t and \xHH stand for the escaped byte. Everything here is a pure
// function of its arguments, so it can be fed arbitrary bytes.
#include "link/LinkTopic.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::link {

inline constexpr char kGreeting[] = "HELLO LINK/1 KALVOR";
inline constexpr char kDefaultTopic[] = "data";
// Written in place of the time of an item that has never been set.
inline constexpr char kNoTime[] = "-";
// The longest line either side sends, without its line end.
inline constexpr int kMaxLineBytes = 1024;

// ---- values -------------------------------------------------------------

// The quoted wire form of a text: " 0.123" -> "\" 0.123\"". Control
// characters other than LF, CR and TAB are written as \xHH.
QByteArray quote(const QString& text);

// The inverse of quote(): `quoted` starts and ends with the double quote.
// Fails on a missing quote, an unknown escape or text that is not UTF-8.
std::optional<QString> unquote(QByteArrayView quoted, QString* why = nullptr);

// ---- lines ----------------------------------------------------------------

// One line without its line end.
struct Line {
    QStringList words;
    std::optional<QString> value;
};

// Splits a line at blanks (spaces and tabs). A quoted value may only come
// last; blanks after it are ignored, anything else is an error.
std::optional<Line> splitLine(QByteArrayView line, QString* why = nullptr);

// Drops one trailing LF and then one trailing CR.
QByteArrayView chomp(QByteArrayView line);

// ---- requests (client to server) -----------------------------------------

enum class Command { Ping, Quit, Topics, Items, Get, Sub, Unsub, Put, Exec };
enum class LinkMode { Hot, Warm };

struct Request {
    Command command = Command::Ping;
    QString topic;
    QString item;
    LinkMode mode = LinkMode::Hot;  // SUB without a mode links hot
    QString value;                  // PUT only
};

// Command words are case-insensitive; topic and item names are kept as sent.
// EXEC is accepted with any arguments (the server refuses it as a whole).
std::optional<Request> parseRequest(QByteArrayView line, QString* why = nullptr);

QByteArray formatRequest(const Request& request);

// ---- replies (server to client) ------------------------------------------

// UTC ISO 8601 with milliseconds, 2026-12-07T10:15:30.123Z; "-" when invalid.
QString formatTime(const QDateTime& time);

QByteArray greetingLine();
QByteArray topicsLine(const QStringList& topics);
QByteArray itemsLine(const QString& topic, const QStringList& items);
// kind is "VALUE" (answer to GET) or "UPDATE" (hot link). A text that would
// make the line longer than kMaxLineBytes is cut at a character boundary and
// ends in "..." (the item keeps its whole text; only the line is cut).
QByteArray valueLine(QByteArrayView kind, const QString& topic, const QString& item,
                     const ItemValue& value);
QByteArray changedLine(const QString& topic, const QString& item, quint64 seq);
// The VALUE, UPDATE and CHANGED lines of one state of an item, sharing one encoding.
ItemLines itemLines(const QString& topic, const QString& item, const ItemValue& value);
// "OK <what> <topic> <item> [<mode>]"
QByteArray okLine(QByteArrayView what, const QString& topic, const QString& item,
                  std::optional<LinkMode> mode = std::nullopt);
// "ERR <code> <detail>"; control characters in the detail become '?'. A detail
// that would make the line longer than kMaxLineBytes is cut at a character
// boundary and ends in "...".
QByteArray errorLine(QByteArrayView code, const QString& detail);
QByteArray simpleLine(QByteArrayView word);  // PONG, BYE

struct Reply {
    QString kind;        // first word, upper case as sent: VALUE, UPDATE, ERR, ...
    QStringList words;   // the words after the kind
    std::optional<QString> value;
    QString errorCode;   // ERR only
    QString errorText;   // ERR only: the rest of the line as sent
};

std::optional<Reply> parseReply(QByteArrayView line, QString* why = nullptr);

// The fields of a VALUE or UPDATE reply.
struct ItemReply {
    QString topic;
    QString item;
    quint64 seq = 0;
    QString time;
    QString text;
};
std::optional<ItemReply> itemReply(const Reply& reply);

// ---- names as users write them ----------------------------------------

struct ItemName {
    QString topic;
    QString item;
};

// "A" is item A of topic "data"; "simulator:dosimeter" (or "simulator!dosimeter")
// names the topic.
std::optional<ItemName> splitItemName(const QString& name, QString* why = nullptr);

} // namespace kalvor::link
