// Conversations that end or stall in awkward ways: a client that sends its
// requests and shuts down its writing side, requests whose error would echo
// more than a line may hold, and connections that are opened and forgotten.
#include "faults/FaultSupport.h"
#include "link/LinkTestSupport.h"

#include <QStandardPaths>
#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class ProgramConversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
        program = std::make_unique<Child>(box, "kalvor", QStringList{"--simulate"}, "kalvor");
        ASSERT_TRUE(program->started());
        ASSERT_TRUE(waitServing(*program, box.socketPath())) << program->standardError().toStdString();
    }
    void TearDown() override
    {
        if (program && program->running()) {
            EXPECT_EQ(program->terminate(), std::optional<int>(0)) << program->standardError().toStdString();
        }
    }

    Sandbox box;
    std::unique_ptr<Child> program;
};

TEST_F(ProgramConversation, HalfClosedClientGetsEveryReplyThenTheEnd)
{
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        GTEST_SKIP() << "socat is not installed (make deps)";
    // Far more replies than the socket buffers hold, and a last line without its LF.
    constexpr int kGets = 20000;
    QByteArray input = "PING\n";
    for (int i = 0; i < kGets; ++i)
        input += "GET data WL\n";
    input += "PUT simulator dosimeter \"0.5\"";

    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {QStringLiteral("-t5"), QStringLiteral("-"), QStringLiteral("UNIX-CONNECT:") + box.socketPath()});
    ASSERT_TRUE(socat.waitForStarted(3000));
    socat.write(input);
    socat.closeWriteChannel();
    ASSERT_TRUE(socat.waitForFinished(20000));
    QList<QByteArray> lines = socat.readAllStandardOutput().split('\n');
    ASSERT_TRUE(!lines.isEmpty() && lines.takeLast().isEmpty()) << "the output does not end with a full line";

    ASSERT_EQ(lines.size(), kGets + 3) << socat.readAllStandardError().toStdString();
    EXPECT_EQ(lines[0], "HELLO LINK/1 KALVOR");
    EXPECT_EQ(lines[1], "PONG");
    EXPECT_TRUE(lines[kGets + 1].startsWith("VALUE data WL ") && lines[kGets + 1].endsWith(" nm\""))
        << lines[kGets + 1].toStdString();
    EXPECT_EQ(lines.back(), "OK PUT simulator dosimeter");
    LineClient check;
    ASSERT_EQ(text(check.open(box.socketPath())), "HELLO LINK/1 KALVOR");
    const std::optional<QByteArray> value = check.ask("GET simulator dosimeter", "VALUE ");
    ASSERT_TRUE(value && ItemLine::parse(*value)) << text(value);
    EXPECT_EQ(ItemLine::parse(*value)->text(), "0.5");
}

TEST_F(ProgramConversation, ErrorsThatEchoLongInputKeepTheLineLimit)
{
    LineClient c;
    ASSERT_EQ(text(c.open(box.socketPath())), "HELLO LINK/1 KALVOR");
    const int limit = LinkLimits{}.maxLineBytes;
    const QByteArray ae = QByteArray("\xC3\xA9");  // é: a cut must not split it
    const QList<QByteArray> requests = {
        "GET " + ae.repeated(500) + " A",
        "GET data " + QByteArray(1000, 'x'),
        "PUT simulator dosimeter \"" + ae.repeated(480) + "\"",
        ae.repeated(510),
    };
    const QList<QByteArray> codes = {"ERR UNKNOWN_TOPIC ", "ERR UNKNOWN_ITEM ", "ERR BAD_VALUE ",
                                     "ERR BAD_REQUEST "};
    for (qsizetype i = 0; i < requests.size(); ++i) {
        ASSERT_LE(requests[i].size(), limit);
        ASSERT_TRUE(c.sendLine(requests[i]));
        const std::optional<QByteArray> reply = c.readLine(3000);
        ASSERT_TRUE(reply) << "request " << i;
        EXPECT_TRUE(reply->startsWith(codes[i])) << reply->left(80).toStdString();
        EXPECT_LE(reply->size(), limit) << "request " << i;
        QStringDecoder utf8(QStringDecoder::Utf8);
        (void)utf8.decode(*reply);
        EXPECT_FALSE(utf8.hasError()) << "request " << i << " got a reply cut inside a character";
    }
    EXPECT_EQ(text(c.ask("PING", "PONG")), "PONG");
}

// The idle limit, shortened, on a server in this process.
class IdleConnections : public linktest::LinkFixture {
protected:
    static constexpr int kIdleMs = 400;
    void SetUp() override
    {
        LinkFixture::SetUp();
        LinkLimits limits;
        limits.idleTimeoutMs = kIdleMs;
        start(limits);
    }
};

TEST_F(IdleConnections, SilentUnlinkedClientIsClosedWithErrIdleAndLinkedOnesStay)
{
    auto silent = client();
    auto talking = client();
    auto linked = client();
    linked->sendLine("SUB data A");
    ASSERT_EQ(linked->nextOrEmpty(), "OK SUB data A HOT");
    ASSERT_TRUE(linked->nextOrEmpty().startsWith("UPDATE data A "));
    // A client that keeps asking is not idle.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3 * kIdleMs) {
        talking->sendLine("PING");
        ASSERT_EQ(talking->nextOrEmpty(), "PONG");
        QTest::qWait(kIdleMs / 4);
    }
    ASSERT_TRUE(silent->waitClosed(kIdleMs));
    ASSERT_FALSE(silent->lines.isEmpty());
    EXPECT_TRUE(silent->lines.first().startsWith("ERR IDLE ")) << silent->lines.first().toStdString();
    EXPECT_FALSE(talking->closed);
    EXPECT_EQ(server->clientCount(), 2);

    // Linked clients are never cut for idling, and still get every set.
    QTest::qWait(2 * kIdleMs);
    EXPECT_FALSE(linked->closed);
    data.set(QStringLiteral("A"), QStringLiteral(" 0.123"));
    EXPECT_TRUE(linked->nextOrEmpty().endsWith("\" 0.123\""));
    // Once it unlinks everything, its idle time starts again.
    linked->sendLine("UNSUB data A");
    EXPECT_EQ(linked->nextOrEmpty(), "OK UNSUB data A");
    EXPECT_TRUE(linked->waitClosed(3 * kIdleMs));
}

} // namespace
