#include "link/LinkProtocol.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::link;

namespace {

QByteArray q(const char* s) { return quote(QString::fromUtf8(s)); }

} // namespace

TEST(LinkProtocol, QuoteKeepsBlanksAndEscapesSpecials)
{
    EXPECT_EQ(q(" 0.123"), QByteArray("\" 0.123\""));
    EXPECT_EQ(q(""), QByteArray("\"\""));
    EXPECT_EQ(q("a\"b\\c"), QByteArray(R"("a\"b\\c")"));
    EXPECT_EQ(q("1\n2\r3\t4"), QByteArray(R"("1\n2\r3\t4")"));
    EXPECT_EQ(quote(QString(QChar(0x01)) + QChar(0x1F) + QChar(0x7F)),
              QByteArray(R"("\x01\x1F\x7F")"));
    EXPECT_EQ(q("510 nm µ"), QByteArray("\"510 nm \xC2\xB5\""));  // UTF-8 passes through
}

TEST(LinkProtocol, UnquoteInvertsQuoteForAwkwardTexts)
{
    const QStringList texts = {
        QStringLiteral(" 0.123"), QStringLiteral(""), QStringLiteral(" "), QStringLiteral(">3.0"),
        QStringLiteral("  trailing  "), QStringLiteral("q\"uote\\back\\\\"),
        QStringLiteral("line\nbreak\r\n"), QString(QChar(0)) + QStringLiteral("nul"),
        QString::fromUtf8("Grüße \xF0\x9F\x98\x80"), QString(QChar(0xFEFF)) + QStringLiteral("bom"),
        QStringLiteral("\\x41 is not an escape here"),
    };
    for (const QString& text : texts) {
        QString why;
        const std::optional<QString> back = unquote(quote(text), &why);
        ASSERT_TRUE(back.has_value()) << text.toStdString() << ": " << why.toStdString();
        EXPECT_EQ(*back, text);
    }
}

TEST(LinkProtocol, UnquoteAcceptsHexEscapesInEitherCase)
{
    EXPECT_EQ(unquote(R"("\x41\x6a\xC3\xA9")"), QString::fromUtf8("Aj\xC3\xA9"));
    EXPECT_EQ(unquote("\"raw\ttab\""), QStringLiteral("raw\ttab"));
}

TEST(LinkProtocol, UnquoteRejectsBrokenValues)
{
    const char* bad[] = {
        "\"open",         "open\"",       "\"",          R"("bad \q escape")",
        R"("\x4")",       R"("\xZZ")",    R"("tail\")",  R"("in"side")",
        R"("\xC3")",      // half a UTF-8 sequence
        "\"\xFF\"",       // not UTF-8 at all
    };
    for (const char* b : bad) {
        QString why;
        EXPECT_FALSE(unquote(QByteArrayView(b), &why).has_value()) << b;
        EXPECT_FALSE(why.isEmpty()) << b;
    }
}

TEST(LinkProtocol, SplitLineTakesWordsAndOneFinalValue)
{
    const std::optional<Line> line = splitLine("  PUT\tsimulator  dosimeter \"  0.5 \"  ");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->words, (QStringList{"PUT", "simulator", "dosimeter"}));
    EXPECT_EQ(line->value, QStringLiteral("  0.5 "));

    const std::optional<Line> escaped = splitLine(R"(PUT t i "a \"quoted\" word")");
    ASSERT_TRUE(escaped.has_value());
    EXPECT_EQ(escaped->value, QStringLiteral("a \"quoted\" word"));

    EXPECT_FALSE(splitLine(R"(PUT t i "v" extra)").has_value());
    EXPECT_FALSE(splitLine(R"(PUT t i"v")").has_value());
    EXPECT_FALSE(splitLine("GET da\x01ta A").has_value());
    EXPECT_FALSE(splitLine("GET \xC3 A").has_value());
    EXPECT_FALSE(splitLine(R"(PUT t i "unterminated)").has_value());
}

TEST(LinkProtocol, ParseRequestKnowsEveryCommand)
{
    auto parse = [](const char* text) {
        QString why;
        const std::optional<Request> r = parseRequest(QByteArrayView(text), &why);
        if (!r)
            ADD_FAILURE() << text << ": " << why.toStdString();
        return r.value_or(Request{});
    };

    EXPECT_EQ(parse("ping").command, Command::Ping);
    EXPECT_EQ(parse("Quit").command, Command::Quit);
    EXPECT_EQ(parse("TOPICS").command, Command::Topics);

    const Request items = parse("items data");
    EXPECT_EQ(items.command, Command::Items);
    EXPECT_EQ(items.topic, QStringLiteral("data"));

    const Request get = parse("get data lblA1");
    EXPECT_EQ(get.command, Command::Get);
    EXPECT_EQ(get.item, QStringLiteral("lblA1"));  // names keep their case

    EXPECT_EQ(parse("SUB data A").mode, LinkMode::Hot);
    EXPECT_EQ(parse("sub data A warm").mode, LinkMode::Warm);
    EXPECT_EQ(parse("SUB data A Hot").mode, LinkMode::Hot);
    EXPECT_EQ(parse("UNSUB data A").command, Command::Unsub);

    const Request put = parse(R"(PUT simulator dosimeter " 0.5")");
    EXPECT_EQ(put.command, Command::Put);
    EXPECT_EQ(put.value, QStringLiteral(" 0.5"));

    EXPECT_EQ(parse(R"(EXEC "[anything]" at all)").command, Command::Exec);
    EXPECT_EQ(parse("exec").command, Command::Exec);
}

TEST(LinkProtocol, ParseRequestRejectsMalformedLines)
{
    const char* bad[] = {
        "",           "   ",          "\"PING\"",        "BOGUS",          "PING now",
        "GET data",   "GET data A B", "GET data A \"v\"", "SUB data A COLD", "SUB data A HOT x",
        "PUT s i",    "PUT s \"v\"",  "ITEMS",            "TOPICS data",     "UNSUB data",
        // Only ASCII letters fold: Unicode case variants are no command words.
        "\xC5\xBFub data A", "\xC4\xB1tems data", "SUB data A \xC4\xB1ot",
    };
    for (const char* b : bad) {
        QString why;
        EXPECT_FALSE(parseRequest(QByteArrayView(b), &why).has_value()) << b;
        EXPECT_FALSE(why.isEmpty()) << b;
    }
}

TEST(LinkProtocol, FormatRequestParsesBack)
{
    Request put;
    put.command = Command::Put;
    put.topic = QStringLiteral("simulator");
    put.item = QStringLiteral("dosimeter");
    put.value = QStringLiteral(" a \"b\"\n");
    const auto back = parseRequest(chomp(formatRequest(put)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->command, Command::Put);
    EXPECT_EQ(back->topic, put.topic);
    EXPECT_EQ(back->item, put.item);
    EXPECT_EQ(back->value, put.value);

    Request sub;
    sub.command = Command::Sub;
    sub.topic = QStringLiteral("data");
    sub.item = QStringLiteral("A");
    sub.mode = LinkMode::Warm;
    EXPECT_EQ(formatRequest(sub), QByteArray("SUB data A WARM\n"));
}

TEST(LinkProtocol, TimeIsUtcWithMillisecondsOrADash)
{
    const QDateTime t(QDate(2026, 12, 7), QTime(10, 15, 30, 123), QTimeZone::utc());
    EXPECT_EQ(formatTime(t), QStringLiteral("2026-12-07T10:15:30.123Z"));
    const QDateTime plusOne(QDate(2026, 12, 7), QTime(11, 15, 30, 5), QTimeZone(3600));
    EXPECT_EQ(formatTime(plusOne), QStringLiteral("2026-12-07T10:15:30.005Z"));
    EXPECT_EQ(formatTime(QDateTime()), QStringLiteral("-"));
    const QDateTime early(QDate(7, 1, 2), QTime(3, 4, 5, 60), QTimeZone::utc());
    EXPECT_EQ(formatTime(early), QStringLiteral("0007-01-02T03:04:05.060Z"));
}

TEST(LinkProtocol, ReplyLinesReadBack)
{
    ItemValue v{QStringLiteral(" 0.123"), 17,
                QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30, 123), QTimeZone::utc())};
    const QByteArray line = valueLine("UPDATE", QStringLiteral("data"), QStringLiteral("A"), v);
    EXPECT_EQ(line, QByteArray("UPDATE data A 17 2026-12-07T10:15:30.123Z \" 0.123\"\n"));

    const auto reply = parseReply(chomp(line));
    ASSERT_TRUE(reply);
    const auto item = itemReply(*reply);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->topic, QStringLiteral("data"));
    EXPECT_EQ(item->item, QStringLiteral("A"));
    EXPECT_EQ(item->seq, 17u);
    EXPECT_EQ(item->time, QStringLiteral("2026-12-07T10:15:30.123Z"));
    EXPECT_EQ(item->text, QStringLiteral(" 0.123"));

    EXPECT_EQ(valueLine("VALUE", QStringLiteral("data"), QStringLiteral("nc"), ItemValue{}),
              QByteArray("VALUE data nc 0 - \"\"\n"));
}

TEST(LinkProtocol, ErrorLinesCarryFreeTextWithoutControlCharacters)
{
    const QByteArray line = errorLine("BAD_VALUE", QStringLiteral("not \"a\" number\nreally"));
    EXPECT_EQ(line, QByteArray("ERR BAD_VALUE not \"a\" number?really\n"));
    const auto reply = parseReply(chomp(line));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->kind, QStringLiteral("ERR"));
    EXPECT_EQ(reply->errorCode, QStringLiteral("BAD_VALUE"));
    EXPECT_EQ(reply->errorText, QStringLiteral("not \"a\" number?really"));
}

TEST(LinkProtocol, ErrorLinesAreCutToTheLineLimitOnACharacterBoundary)
{
    // "ERR X " is 6 bytes: a detail of 1018 bytes just fits, one more does not.
    const QString fits(1018, QLatin1Char('a'));
    EXPECT_EQ(errorLine("X", fits), "ERR X " + fits.toLatin1() + '\n');
    const QByteArray cut = errorLine("X", fits + QLatin1Char('b'));
    EXPECT_EQ(cut.size(), kMaxLineBytes + 1);
    EXPECT_TRUE(cut.endsWith("aaa...\n"));
    // Two-byte characters: the cut falls before a whole one, never inside it.
    const QByteArray wide = errorLine("X", QString(600, QChar(0xE9)));
    EXPECT_LE(wide.size(), kMaxLineBytes + 1);
    EXPECT_EQ(QString::fromUtf8(wide.chopped(4).sliced(6)), QString((kMaxLineBytes - 6 - 3) / 2, QChar(0xE9)));
}

TEST(LinkProtocol, ValueLinesAreCutToTheLineLimitNeverInsideAnEscapeOrACharacter)
{
    ItemValue v;
    v.seq = 123456;
    v.time = QDateTime::currentDateTimeUtc();
    for (const QString& text : {QString(2000, QLatin1Char('a')), QString(300, QChar(1)) + QString(600, QChar(0xE9)),
                                QString(1000, QLatin1Char('"'))}) {
        v.text = text;
        const ItemLines lines = itemLines(QStringLiteral("simulator"), QStringLiteral("dosimeter"), v);
        EXPECT_LE(lines.update.size(), kMaxLineBytes + 1);
        EXPECT_GE(lines.update.size(), kMaxLineBytes + 1 - 4); // cut before an escape of 4 bytes at most
        const auto reply = parseReply(chomp(lines.update));
        ASSERT_TRUE(reply && reply->value) << lines.update.toStdString();
        EXPECT_TRUE(reply->value->endsWith(QStringLiteral("...")));
        EXPECT_TRUE(text.startsWith(reply->value->chopped(3)));
        EXPECT_EQ(parseReply(chomp(lines.value))->value, reply->value);
    }
    v.text = QString(900, QLatin1Char('b')); // fits: left as it is
    EXPECT_EQ(parseReply(chomp(itemLines(QStringLiteral("data"), QStringLiteral("A"), v).update))->value, v.text);
}

TEST(LinkProtocol, ItemNamesDefaultToTopicData)
{
    const auto a = splitItemName(QStringLiteral("A"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->topic, QStringLiteral("data"));
    EXPECT_EQ(a->item, QStringLiteral("A"));
    for (const char* name : {"simulator:dosimeter", "simulator!dosimeter"}) {
        const auto sim = splitItemName(QString::fromLatin1(name));
        ASSERT_TRUE(sim) << name;
        EXPECT_EQ(sim->topic, QStringLiteral("simulator"));
        EXPECT_EQ(sim->item, QStringLiteral("dosimeter"));
    }
    for (const char* bad : {"", "!A", "data!", "a!b!c", ":A", "data:", "a:b:c", "a:b!c", "a!b:c"})
        EXPECT_FALSE(splitItemName(QString::fromLatin1(bad))) << bad;
}

TEST(LinkProtocol, AWordStartingWithAByteOrderMarkKeepsIt)
{
    // "GET data <BOM>A" names an item that is not A; it must not be read as A.
    const std::optional<Request> r = parseRequest(QByteArrayView("GET data \xEF\xBB\xBF" "A"));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->item, QString(QChar(0xFEFF)) + QLatin1Char('A'));
    const std::optional<Request> back = parseRequest(chomp(formatRequest(*r)));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->item, r->item);
}
