// The link protocol fed arbitrary bytes as a request line, a reply line and a
// quoted value. Beyond running clean under the sanitizers:
//  - any text (the input read as UTF-8) survives quote() then unquote(), on
//    its own and as the last field of a PUT line, and its quoted form holds no
//    control byte, so a value can never break a line;
//  - a request that parses is written by formatRequest() as one line that
//    parses back to the same request, and a VALUE reply built from its names
//    reads back field by field;
//  - a failed parse always says why;
//  - an error line is one line without control characters that reads back,
//    whole or cut short at a character boundary to keep the line limit.
#include "FuzzCheck.h"
#include "link/LinkProtocol.h"

#include <cstddef>
#include <cstdint>

using namespace kalvor;
using namespace kalvor::link;

namespace {

bool noControlBytes(QByteArrayView bytes)
{
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool isOneLine(const QByteArray& line)
{
    return line.endsWith('\n') && noControlBytes(QByteArrayView(line).chopped(1));
}

bool sameRequest(const Request& a, const Request& b)
{
    return a.command == b.command && a.topic == b.topic && a.item == b.item && a.mode == b.mode
           && a.value == b.value;
}

void checkValueRoundTrip(const QString& text)
{
    const QByteArray quoted = quote(text);
    FUZZ_CHECK(noControlBytes(quoted));
    FUZZ_CHECK(unquote(quoted) == text);

    const std::optional<Line> line = splitLine(QByteArray("PUT data A ") + quoted + " \t");
    FUZZ_CHECK(line && line->value == text);
    FUZZ_CHECK(line->words == (QStringList{QStringLiteral("PUT"), QStringLiteral("data"),
                                           QStringLiteral("A")}));
    const std::optional<Request> put = parseRequest(QByteArray("put data A ") + quoted);
    FUZZ_CHECK(put && put->command == Command::Put && put->value == text);
}

void checkRequestRoundTrip(const Request& request, const QString& text, quint64 seq)
{
    const QByteArray written = formatRequest(request);
    FUZZ_CHECK(isOneLine(written));
    const std::optional<Request> again = parseRequest(chomp(written));
    FUZZ_CHECK(again && sameRequest(*again, request));

    if (request.topic.isEmpty() || request.item.isEmpty())
        return;
    ItemValue value;
    value.text = text;
    value.seq = seq;
    const QByteArray reply = valueLine("VALUE", request.topic, request.item, value);
    FUZZ_CHECK(isOneLine(reply));
    const std::optional<Reply> parsed = parseReply(chomp(reply));
    FUZZ_CHECK(parsed && parsed->kind == QLatin1String("VALUE"));
    const std::optional<ItemReply> item = itemReply(*parsed);
    FUZZ_CHECK(item);
    FUZZ_CHECK(item->topic == request.topic && item->item == request.item);
    FUZZ_CHECK(item->seq == seq && item->time == QLatin1String(kNoTime));
    // A text too long for the line limit is cut at a character boundary and
    // ends in "..."; only names far beyond any the program serves leave no room.
    const QString cut = QStringLiteral("...");
    FUZZ_CHECK(item->text == text || (item->text.endsWith(cut) && text.startsWith(item->text.chopped(cut.size()))));
    FUZZ_CHECK(reply.size() <= kMaxLineBytes + 1
               || request.topic.toUtf8().size() + request.item.toUtf8().size() > kMaxLineBytes - 64);
}

void checkErrorLine(const QString& text)
{
    const QByteArray line = errorLine("BAD_REQUEST", text);
    FUZZ_CHECK(isOneLine(line));
    QString expected = text;
    for (QChar& c : expected)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    const std::optional<Reply> reply = parseReply(chomp(line));
    FUZZ_CHECK(reply && reply->kind == QLatin1String("ERR"));
    FUZZ_CHECK(reply->errorCode == QLatin1String("BAD_REQUEST"));
    // A long text is cut to keep the line limit, at a character boundary.
    FUZZ_CHECK(line.size() <= kMaxLineBytes + 1);
    if (reply->errorText != expected) {
        const QString cut = QStringLiteral("...");
        FUZZ_CHECK(reply->errorText.endsWith(cut) && expected.startsWith(reply->errorText.chopped(cut.size())));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QByteArrayView line = chomp(bytes);
    FUZZ_CHECK(line.size() <= bytes.size() && bytes.startsWith(line));

    QString why;
    const std::optional<Request> request = parseRequest(line, &why);
    FUZZ_CHECK(request || !why.isEmpty());
    why.clear();
    const std::optional<Reply> reply = parseReply(line, &why);
    FUZZ_CHECK(reply || !why.isEmpty());
    if (reply)
        itemReply(*reply);
    why.clear();
    if (!unquote(bytes, &why))
        FUZZ_CHECK(!why.isEmpty());

    const QString text = QString::fromUtf8(bytes);
    checkValueRoundTrip(text);
    if (request && request->command != Command::Exec)
        checkRequestRoundTrip(*request, text, size);
    checkErrorLine(text);

    why.clear();
    if (const std::optional<ItemName> name = splitItemName(text, &why)) {
        FUZZ_CHECK(!name->topic.isEmpty() && !name->item.isEmpty());
        FUZZ_CHECK(!name->topic.contains(QLatin1Char('!')) && !name->item.contains(QLatin1Char('!')));
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }
    return 0;
}
