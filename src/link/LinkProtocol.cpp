#include "link/LinkProtocol.h"

#include <QStringDecoder>
#include <QVarLengthArray>

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
    // The common case needs no decoder object; fromUtf8 would drop a leading BOM, which is kept.
    if (bytes.isValidUtf8() && !bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                                     | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// A word of a line that splitFields has already checked, as text: a leading BOM
// is kept, as it is everywhere else on a line.
QString wordText(QByteArrayView word) { return decodeUtf8(word).value_or(QString()); }

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

namespace {

// A line taken apart without copying: its words, each valid UTF-8 without
// control characters, and the quoted value (quotes included) if there is one.
struct Fields {
    QVarLengthArray<QByteArrayView, 6> words;
    std::optional<QByteArrayView> quoted;
};

std::optional<Fields> splitFields(QByteArrayView line, QString* why)
{
    Fields out;
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
            for (qsizetype k = j + 1; k < n; ++k) {
                if (!isBlank(line[k])) {
                    fail(why, QStringLiteral("the quoted value must be the last field"));
                    return std::nullopt;
                }
            }
            out.quoted = line.sliced(i, j - i + 1);
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
        const QByteArrayView word = line.sliced(start, i - start);
        if (!word.isValidUtf8() && !decodeUtf8(word)) {
            fail(why, QStringLiteral("line is not valid UTF-8"));
            return std::nullopt;
        }
        out.words.append(word);
    }
    return out;
}

// Command words are ASCII; only ASCII letters fold (no Unicode case variants
// such as a long s standing for an s).
bool isWord(QByteArrayView word, QByteArrayView upper)
{
    if (word.size() != upper.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != upper[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<Line> splitLine(QByteArrayView line, QString* why)
{
    std::optional<Fields> fields = splitFields(line, why);
    if (!fields)
        return std::nullopt;
    Line out;
    out.words.reserve(fields->words.size());
    for (QByteArrayView word : fields->words)
        out.words.append(wordText(word));
    if (fields->quoted) {
        out.value = unquote(*fields->quoted, why);
        if (!out.value)
            return std::nullopt;
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
    if (isWord(lineBytes.sliced(start, end - start), "EXEC")) {
        Request exec;
        exec.command = Command::Exec;
        return exec;
    }

    std::optional<Fields> line = splitFields(lineBytes, why);
    if (!line)
        return std::nullopt;
    std::optional<QString> value;
    if (line->quoted) {
        value = unquote(*line->quoted, why);
        if (!value)
            return std::nullopt;
    }
    if (line->words.isEmpty()) {
        fail(why, value ? QStringLiteral("a line must start with a command")
                        : QStringLiteral("empty line"));
        return std::nullopt;
    }
    const QByteArrayView verb = line->words.front();
    const qsizetype args = line->words.size() - 1;
    auto arg = [&](qsizetype i) { return wordText(line->words[i + 1]); };
    Request r;

    auto expect = [&](qsizetype minArgs, qsizetype maxArgs, bool wantsValue, const char* usage) {
        const bool ok = args >= minArgs && args <= maxArgs && value.has_value() == wantsValue;
        if (!ok)
            fail(why, QStringLiteral("usage: %1").arg(QLatin1String(usage)));
        return ok;
    };

    const bool ping = isWord(verb, "PING"), quit = isWord(verb, "QUIT"), topics = isWord(verb, "TOPICS");
    if (ping || quit || topics) {
        if (!expect(0, 0, false, topics ? "TOPICS" : "PING | QUIT"))
            return std::nullopt;
        r.command = ping ? Command::Ping : quit ? Command::Quit : Command::Topics;
        return r;
    }
    if (isWord(verb, "ITEMS")) {
        if (!expect(1, 1, false, "ITEMS <topic>"))
            return std::nullopt;
        r.command = Command::Items;
        r.topic = arg(0);
        return r;
    }
    const bool get = isWord(verb, "GET");
    if (get || isWord(verb, "UNSUB")) {
        if (!expect(2, 2, false, get ? "GET <topic> <item>" : "UNSUB <topic> <item>"))
            return std::nullopt;
        r.command = get ? Command::Get : Command::Unsub;
        r.topic = arg(0);
        r.item = arg(1);
        return r;
    }
    if (isWord(verb, "SUB")) {
        if (!expect(2, 3, false, "SUB <topic> <item> [HOT|WARM]"))
            return std::nullopt;
        r.command = Command::Sub;
        r.topic = arg(0);
        r.item = arg(1);
        if (args == 3) {
            if (isWord(line->words[3], "WARM")) {
                r.mode = LinkMode::Warm;
            } else if (!isWord(line->words[3], "HOT")) {
                fail(why, QStringLiteral("link mode must be HOT or WARM"));
                return std::nullopt;
            }
        }
        return r;
    }
    if (isWord(verb, "PUT")) {
        if (!expect(2, 2, true, "PUT <topic> <item> \"<value>\""))
            return std::nullopt;
        r.command = Command::Put;
        r.topic = arg(0);
        r.item = arg(1);
        r.value = std::move(*value);
        return r;
    }
    fail(why, QStringLiteral("unknown command %1").arg(QString::fromUtf8(verb)));
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
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    if (date.year() < 0 || date.year() > 9999)
        return utc.toString(Qt::ISODateWithMs);
    // Written digit by digit: QDateTime::toString costs far more, once per set of an item.
    char out[] = "0000-00-00T00:00:00.000Z";
    auto put = [&out](int at, int value, int digits) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            out[i] = char('0' + value % 10);
    };
    put(0, date.year(), 4);
    put(5, date.month(), 2);
    put(8, date.day(), 2);
    put(11, clock.hour(), 2);
    put(14, clock.minute(), 2);
    put(17, clock.second(), 2);
    put(20, clock.msec(), 3);
    return QString::fromLatin1(out, sizeof out - 1);
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

namespace {

// The quoted value cut to at most `room` bytes, quotes included, ending in
// "..." inside the quotes when cut; never inside an escape or a UTF-8 sequence.
QByteArray quoteWithin(const QString& text, qsizetype room)
{
    QByteArray quoted = quote(text);
    if (quoted.size() <= room)
        return quoted;
    static constexpr QByteArrayView kCut = "...";
    const qsizetype limit = qMax<qsizetype>(room - 2 - kCut.size(), 0);
    qsizetype keep = 1; // after the opening quote
    while (keep < quoted.size() - 1) {
        const auto c = static_cast<unsigned char>(quoted[keep]);
        qsizetype length = 1;
        if (c == '\\')
            length = quoted[keep + 1] == 'x' ? 4 : 2;
        else if (c >= 0xC0)
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (keep - 1 + length > limit)
            break;
        keep += length;
    }
    quoted.truncate(keep);
    return quoted + kCut.toByteArray() + '"';
}

// "<topic> <item> <seq> <time> "<text>"" and the line end: what VALUE and
// UPDATE share. A text that would make the UPDATE line longer than
// kMaxLineBytes is cut short and ends in "...", as error texts are.
QByteArray valueTail(const QString& topic, const QString& item, const ItemValue& value)
{
    const QByteArray fields = join({topic.toUtf8(), item.toUtf8(), QByteArray::number(value.seq),
                                    formatTime(value.time).toLatin1()});
    const qsizetype room = kMaxLineBytes - qsizetype(sizeof "UPDATE") - fields.size() - 1;
    return fields + ' ' + quoteWithin(value.text, room) + '\n';
}

QByteArray prefixed(QByteArrayView kind, const QByteArray& tail)
{
    QByteArray line;
    line.reserve(kind.size() + 1 + tail.size());
    line.append(kind).append(' ').append(tail);
    return line;
}

} // namespace

QByteArray valueLine(QByteArrayView kind, const QString& topic, const QString& item,
                     const ItemValue& value)
{
    return prefixed(kind, valueTail(topic, item, value));
}

ItemLines itemLines(const QString& topic, const QString& item, const ItemValue& value)
{
    const QByteArray tail = valueTail(topic, item, value);
    return {prefixed("VALUE", tail), prefixed("UPDATE", tail), changedLine(topic, item, value.seq)};
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
    QByteArray out = "ERR " + code.toByteArray();
    QByteArray text = detail.toUtf8();
    if (text.isEmpty())
        return out + '\n';
    for (char& c : text)
        if (isControl(static_cast<unsigned char>(c)))
            c = '?';
    const qsizetype room = kMaxLineBytes - out.size() - 1;
    if (text.size() > room) {
        static constexpr QByteArrayView kCut = "...";
        qsizetype keep = qMax<qsizetype>(room - kCut.size(), 0);
        while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
            --keep;  // not inside a UTF-8 sequence
        text.truncate(keep);
        text += kCut;
    }
    out += ' ';
    out += text;
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
