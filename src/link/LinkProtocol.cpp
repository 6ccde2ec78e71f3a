#include "link/LinkProtocol.h"

#include <QStringDecoder>

#include <algorithm>

namespace kalvor::link {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                                     | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

QByteArray join(std::initializer_list<QByteArray> parts)
{
    QByteArray out;
    for (const QByteArray& p : parts) {
        if (!out.isEmpty())
            out += ' ';
        out += p;
    }
    return out;
}

QByteArray modeWord(LinkMode mode) { return mode == LinkMode::Hot ? "HOT" : "WARM"; }

} // namespace

QByteArray quote(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (isControl(c)) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 0x0F];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::optional<QString> unquote(QByteArrayView quoted, QString* why)
{
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') {
        fail(why, QStringLiteral("a value must be enclosed in double quotes"));
        return std::nullopt;
    }
    const QByteArrayView body = quoted.sliced(1, quoted.size() - 2);
    QByteArray bytes;
    bytes.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '"') {
            fail(why, QStringLiteral("unescaped double quote inside a value"));
            return std::nullopt;
        }
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (++i >= body.size()) {
            fail(why, QStringLiteral("value ends in a lone backslash"));
            return std::nullopt;
        }
        switch (body[i]) {
        case '\\': bytes += '\\'; break;
        case '"': bytes += '"'; break;
        case 'n': bytes += '\n'; break;
        case 'r': bytes += '\r'; break;
        case 't': bytes += '\t'; break;
        case 'x': {
            const int hi = i + 1 < body.size() ? hexDigit(body[i + 1]) : -1;
            const int lo = i + 2 < body.size() ? hexDigit(body[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                fail(why, QStringLiteral("\\x must be followed by two hex digits"));
                return std::nullopt;
            }
            bytes += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            fail(why, QStringLiteral("unknown escape \\%1").arg(QLatin1Char(body[i])));
            return std::nullopt;
        }
    }
    std::optional<QString> text = decodeUtf8(bytes);
    if (!text)
        fail(why, QStringLiteral("value is not valid UTF-8"));
    return text;
}

QByteArrayView chomp(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<Line> splitLine(QByteArrayView line, QString* why)
{
    Line out;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i >= n)
            break;
        if (line[i] == '"') {
            // The value: find its closing quote, skipping escaped characters.
            qsizetype j = i + 1;
            while (j < n && line[j] != '"')
                j += line[j] == '\\' ? 2 : 1;
            if (j >= n) {
                fail(why, QStringLiteral("value lacks its closing double quote"));
                return std::nullopt;
            }
            std::optional<QString> value = unquote(line.sliced(i, j - i + 1), why);
            if (!value)
                return std::nullopt;
            for (qsizetype k = j + 1; k < n; ++k) {
                if (!isBlank(line[k])) {
                    fail(why, QStringLiteral("the quoted value must be the last field"));
                    return std::nullopt;
                }
            }
            out.value = std::move(*value);
            break;
        }
        const qsizetype start = i;
        while (i < n && !isBlank(line[i]) && line[i] != '"') {
            if (isControl(static_cast<unsigned char>(line[i]))) {
                fail(why, QStringLiteral("control character outside a quoted value"));
                return std::nullopt;
            }
            ++i;
        }
        if (i < n && line[i] == '"') {
            fail(why, QStringLiteral("a double quote must start a field"));
            return std::nullopt;
        }
        std::optional<QString> word = decodeUtf8(line.sliced(start, i - start));
        if (!word) {
            fail(why, QStringLiteral("line is not valid UTF-8"));
            return std::nullopt;
        }
        out.words.append(*word);
    }
    return out;
}

std::optional<Request> parseRequest(QByteArrayView lineBytes, QString* why)
{
    // EXEC is refused whatever follows it, so its arguments are not parsed.
    qsizetype start = 0;
    while (start < lineBytes.size() && isBlank(lineBytes[start]))
        ++start;
    qsizetype end = start;
    while (end < lineBytes.size() && !isBlank(lineBytes[end]))
        ++end;
    if (lineBytes.sliced(start, end - start).compare("EXEC", Qt::CaseInsensitive) == 0) {
        Request exec;
        exec.command = Command::Exec;
        return exec;
    }

    std::optional<Line> line = splitLine(lineBytes, why);
    if (!line)
        return std::nullopt;
    if (line->words.isEmpty()) {
        fail(why, line->value ? QStringLiteral("a line must start with a command")
                              : QStringLiteral("empty line"));
        return std::nullopt;
    }
    // Command words are ASCII; only ASCII letters fold (no Unicode case
    // variants such as a long s standing for an s).
    const QString verb = QString::fromLatin1(line->words.first().toUtf8().toUpper());
    const QStringList args = line->words.mid(1);
    Request r;

    auto expect = [&](qsizetype minArgs, qsizetype maxArgs, bool wantsValue, const char* usage) {
        const bool ok = args.size() >= minArgs && args.size() <= maxArgs
                        && line->value.has_value() == wantsValue;
        if (!ok)
            fail(why, QStringLiteral("usage: %1").arg(QLatin1String(usage)));
        return ok;
    };

    if (verb == QLatin1String("PING") || verb == QLatin1String("QUIT")
        || verb == QLatin1String("TOPICS")) {
        if (!expect(0, 0, false, verb == QLatin1String("TOPICS") ? "TOPICS" : "PING | QUIT"))
            return std::nullopt;
        r.command = verb == QLatin1String("PING")   ? Command::Ping
                    : verb == QLatin1String("QUIT") ? Command::Quit
                                                    : Command::Topics;
        return r;
    }
    if (verb == QLatin1String("ITEMS")) {
        if (!expect(1, 1, false, "ITEMS <topic>"))
            return std::nullopt;
        r.command = Command::Items;
        r.topic = args[0];
        return r;
    }
    if (verb == QLatin1String("GET") || verb == QLatin1String("UNSUB")) {
        if (!expect(2, 2, false, verb == QLatin1String("GET") ? "GET <topic> <item>"
                                                              : "UNSUB <topic> <item>"))
            return std::nullopt;
        r.command = verb == QLatin1String("GET") ? Command::Get : Command::Unsub;
        r.topic = args[0];
        r.item = args[1];
        return r;
    }
    if (verb == QLatin1String("SUB")) {
        if (!expect(2, 3, false, "SUB <topic> <item> [HOT|WARM]"))
            return std::nullopt;
        r.command = Command::Sub;
        r.topic = args[0];
        r.item = args[1];
        if (args.size() == 3) {
            const QString mode = QString::fromLatin1(args[2].toUtf8().toUpper());
            if (mode == QLatin1String("WARM")) {
                r.mode = LinkMode::Warm;
            } else if (mode != QLatin1String("HOT")) {
                fail(why, QStringLiteral("link mode must be HOT or WARM"));
                return std::nullopt;
            }
        }
        return r;
    }
    if (verb == QLatin1String("PUT")) {
        if (!expect(2, 2, true, "PUT <topic> <item> \"<value>\""))
            return std::nullopt;
        r.command = Command::Put;
        r.topic = args[0];
        r.item = args[1];
        r.value = *line->value;
        return r;
    }
    fail(why, QStringLiteral("unknown command %1").arg(line->words.first()));
    return std::nullopt;
}

QByteArray formatRequest(const Request& r)
{
    const QByteArray topic = r.topic.toUtf8();
    const QByteArray item = r.item.toUtf8();
    switch (r.command) {
    case Command::Ping: return "PING\n";
    case Command::Quit: return "QUIT\n";
    case Command::Topics: return "TOPICS\n";
    case Command::Items: return join({"ITEMS", topic}) + '\n';
    case Command::Get: return join({"GET", topic, item}) + '\n';
    case Command::Sub: return join({"SUB", topic, item, modeWord(r.mode)}) + '\n';
    case Command::Unsub: return join({"UNSUB", topic, item}) + '\n';
    case Command::Put: return join({"PUT", topic, item, quote(r.value)}) + '\n';
    case Command::Exec: return "EXEC\n";
    }
    return {};
}

QString formatTime(const QDateTime& time)
{
    if (!time.isValid())
        return QString::fromLatin1(kNoTime);
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray greetingLine() { return QByteArray(kGreeting) + '\n'; }

QByteArray topicsLine(const QStringList& topics)
{
    QByteArray out = "TOPICS";
    for (const QString& t : topics)
        out += ' ' + t.toUtf8();
    return out + '\n';
}

QByteArray itemsLine(const QString& topic, const QStringList& items)
{
    QByteArray out = "ITEMS " + topic.toUtf8();
    for (const QString& i : items)
        out += ' ' + i.toUtf8();
    return out + '\n';
}

QByteArray valueLine(QByteArrayView kind, const QString& topic, const QString& item,
                     const ItemValue& value)
{
    return join({kind.toByteArray(), topic.toUtf8(), item.toUtf8(), QByteArray::number(value.seq),
                 formatTime(value.time).toLatin1(), quote(value.text)})
           + '\n';
}

QByteArray changedLine(const QString& topic, const QString& item, quint64 seq)
{
    return join({"CHANGED", topic.toUtf8(), item.toUtf8(), QByteArray::number(seq)}) + '\n';
}

QByteArray okLine(QByteArrayView what, const QString& topic, const QString& item,
                  std::optional<LinkMode> mode)
{
    QByteArray out = join({"OK", what.toByteArray(), topic.toUtf8(), item.toUtf8()});
    if (mode)
        out += ' ' + modeWord(*mode);
    return out + '\n';
}

QByteArray errorLine(QByteArrayView code, const QString& detail)
{
    QByteArray text = detail.toUtf8();
    for (char& c : text)
        if (isControl(static_cast<unsigned char>(c)))
            c = '?';
    QByteArray out = "ERR " + code.toByteArray();
    if (!text.isEmpty())
        out += ' ' + text;
    return out + '\n';
}

QByteArray simpleLine(QByteArrayView word) { return word.toByteArray() + '\n'; }

std::optional<Reply> parseReply(QByteArrayView lineBytes, QString* why)
{
    Reply reply;
    // An error's detail is free text, so it is taken as it stands.
    if (lineBytes.startsWith("ERR ") || lineBytes == "ERR") {
        std::optional<QString> text = decodeUtf8(lineBytes);
        if (!text) {
            fail(why, QStringLiteral("reply is not valid UTF-8"));
            return std::nullopt;
        }
        reply.kind = QStringLiteral("ERR");
        const QString rest = text->mid(4);
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        reply.errorCode = blank < 0 ? rest : rest.left(blank);
        reply.errorText = blank < 0 ? QString() : rest.mid(blank + 1);
        return reply;
    }
    std::optional<Line> line = splitLine(lineBytes, why);
    if (!line)
        return std::nullopt;
    if (line->words.isEmpty()) {
        fail(why, QStringLiteral("reply without a kind"));
        return std::nullopt;
    }
    reply.kind = line->words.takeFirst();
    reply.words = std::move(line->words);
    reply.value = std::move(line->value);
    return reply;
}

std::optional<ItemReply> itemReply(const Reply& reply)
{
    if ((reply.kind != QLatin1String("VALUE") && reply.kind != QLatin1String("UPDATE"))
        || reply.words.size() != 4 || !reply.value)
        return std::nullopt;
    bool ok = false;
    ItemReply out;
    out.topic = reply.words[0];
    out.item = reply.words[1];
    out.seq = reply.words[2].toULongLong(&ok);
    out.time = reply.words[3];
    out.text = *reply.value;
    if (!ok)
        return std::nullopt;
    return out;
}

std::optional<ItemName> splitItemName(const QString& name, QString* why)
{
    // TOPIC:ITEM is the shell-safe form; TOPIC!ITEM is the same name.
    const qsizetype separators = name.count(QLatin1Char(':')) + name.count(QLatin1Char('!'));
    if (separators == 0 && !name.isEmpty())
        return ItemName{QString::fromLatin1(kDefaultTopic), name};
    const qsizetype cut = std::max(name.indexOf(QLatin1Char(':')), name.indexOf(QLatin1Char('!')));
    if (separators == 1 && cut > 0 && cut < name.size() - 1)
        return ItemName{name.left(cut), name.mid(cut + 1)};
    fail(why, QStringLiteral("\"%1\" is not ITEM or TOPIC:ITEM").arg(name));
    return std::nullopt;
}

} // namespace kalvor::link
