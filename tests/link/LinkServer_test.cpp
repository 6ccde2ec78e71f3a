// The link service over real sockets. Every test runs its own server in a
// private XDG_RUNTIME_DIR (see LinkTestSupport.h).
#include "LinkTestSupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kalvor;
using namespace kalvor::linktest;

namespace {

class LinkServerTest : public LinkFixture {};

const QRegularExpression kTime(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));

// Seq numbers of "UPDATE data A <seq> ..." lines.
QList<quint64> updateSeqs(const QList<QByteArray>& lines)
{
    QList<quint64> seqs;
    for (const QByteArray& l : lines)
        if (l.startsWith("UPDATE data A "))
            seqs.append(l.split(' ').value(3).toULongLong());
    return seqs;
}

// A socket the test controls byte by byte; it reads only when told to.
class RawClient {
public:
    explicit RawClient(const QString& path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd); }
    void send(const QByteArray& bytes) { ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), bytes.size()); }
    // Everything the kernel holds for us now; sets eof when the server closed.
    QByteArray drain()
    {
        QByteArray out;
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            out.append(buf, n);
        if (n == 0)
            eof = true;
        return out;
    }
    int fd = -1;
    bool connected = false;
    bool eof = false;
};

} // namespace

TEST_F(LinkServerTest, GreetsAnswersPingAndSaysByeOnQuit)
{
    start();
    auto c = client();
    c->sendLine("PING");
    EXPECT_EQ(c->nextOrEmpty(), "PONG");
    c->send("ping\r\n");  // CR LF and lower case are fine
    EXPECT_EQ(c->nextOrEmpty(), "PONG");
    c->sendLine("QUIT");
    EXPECT_EQ(c->nextOrEmpty(), "BYE");
    EXPECT_TRUE(c->waitClosed());
}

TEST_F(LinkServerTest, ListsTopicsAndItems)
{
    start();
    auto c = client();
    c->sendLine("TOPICS");
    EXPECT_EQ(c->nextOrEmpty(), "TOPICS data simulator");
    c->sendLine("ITEMS data");
    EXPECT_EQ(c->nextOrEmpty(), "ITEMS data A WL lblA1 lblA2 na nb nc");
    c->sendLine("ITEMS simulator");
    EXPECT_EQ(c->nextOrEmpty(), "ITEMS simulator dosimeter");
    c->sendLine("ITEMS Data");  // topic names are case-sensitive
    EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR UNKNOWN_TOPIC "));
}

TEST_F(LinkServerTest, GetGivesSeqTimeAndTheUntrimmedText)
{
    start();
    auto c = client();
    c->sendLine("GET data A");
    EXPECT_EQ(c->nextOrEmpty(), "VALUE data A 0 - \"\"");

    data.set("A", " 0.123");
    data.set("A", " 0.123");  // the same text again still counts
    c->sendLine("GET data A");
    const QByteArray line = c->nextOrEmpty();
    const QList<QByteArray> f = line.split(' ');
    ASSERT_EQ(f.size(), 7) << line.toStdString();
    EXPECT_EQ(f[0] + ' ' + f[1] + ' ' + f[2] + ' ' + f[3], "VALUE data A 2");
    EXPECT_TRUE(kTime.match(QString::fromLatin1(f[4])).hasMatch()) << f[4].toStdString();
    EXPECT_EQ(f[4], data.value("A").time.toString(Qt::ISODateWithMs).toLatin1());
    EXPECT_TRUE(line.endsWith(" \" 0.123\"")) << line.toStdString();  // blank kept
    c->sendLine("GET data na");
    EXPECT_EQ(c->nextOrEmpty(), "VALUE data na 0 - \"\"");
}

TEST_F(LinkServerTest, HotLinkSendsCurrentValueAndEverySet)
{
    start();
    data.set("A", "Zeroing");
    auto c = client();
    c->sendLine("SUB data A HOT");
    EXPECT_EQ(c->nextOrEmpty(), "OK SUB data A HOT");
    const QByteArray first = c->nextOrEmpty();
    EXPECT_TRUE(first.startsWith("UPDATE data A 1 ")) << first.toStdString();
    EXPECT_TRUE(first.endsWith(" \"Zeroing\"")) << first.toStdString();

    data.set("A", " 0.512");
    data.set("WL", "510 nm");  // not linked: nothing
    data.set("A", " 0.512");
    const QList<QByteArray> lines = c->linesBeforePong();
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("UPDATE data A 2 "));
    EXPECT_TRUE(lines[0].endsWith(" \" 0.512\""));
    EXPECT_TRUE(lines[1].startsWith("UPDATE data A 3 "));
}

TEST_F(LinkServerTest, WarmLinkAnnouncesWithSeqOnly)
{
    start();
    auto c = client();
    c->sendLine("sub data WL warm");
    EXPECT_EQ(c->nextOrEmpty(), "OK SUB data WL WARM");
    EXPECT_EQ(c->nextOrEmpty(), "CHANGED data WL 0");
    data.set("WL", "510 nm");
    EXPECT_EQ(c->linesBeforePong(), QList<QByteArray>{"CHANGED data WL 1"});
}

TEST_F(LinkServerTest, SecondSubChangesOnlyTheMode)
{
    start();
    auto c = client();
    c->sendLine("SUB data A HOT");
    c->sendLine("SUB data A WARM");
    EXPECT_EQ(c->linesBeforePong(),
              (QList<QByteArray>{"OK SUB data A HOT", "UPDATE data A 0 - \"\"",
                                 "OK SUB data A WARM", "CHANGED data A 0"}));

    data.set("A", " 0.100");
    EXPECT_EQ(c->linesBeforePong(), QList<QByteArray>{"CHANGED data A 1"});
    c->sendLine("SUB data A HOT");
    EXPECT_EQ(c->nextOrEmpty(), "OK SUB data A HOT");
    data.set("A", " 0.200");
    const QList<QByteArray> back = c->linesBeforePong();
    ASSERT_EQ(back.size(), 2) << back.join('|').toStdString();
    EXPECT_TRUE(back[0].startsWith("UPDATE data A 1 "));  // at once, as for a first SUB
    EXPECT_TRUE(back[1].startsWith("UPDATE data A 2 "));
}

TEST_F(LinkServerTest, UnsubStopsTheItemAndOnlyIt)
{
    start();
    auto c = client();
    c->sendLine("SUB data A");
    c->sendLine("SUB data nb");
    c->linesBeforePong();
    c->sendLine("UNSUB data A");
    EXPECT_EQ(c->nextOrEmpty(), "OK UNSUB data A");
    data.set("A", " 0.300");
    data.set("nb", " 1.000");
    const QList<QByteArray> lines = c->linesBeforePong();
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("UPDATE data nb 1 "));
}

TEST_F(LinkServerTest, UnknownNamesAreRefusedAndTheConversationGoesOn)
{
    start();
    auto c = client();
    const char* requests[] = {"GET nosuch A", "GET data a", "SUB data Z HOT", "UNSUB nosuch A",
                              "PUT nosuch x \"1\"", "PUT simulator x \"1\""};
    const char* codes[] = {"ERR UNKNOWN_TOPIC ", "ERR UNKNOWN_ITEM ", "ERR UNKNOWN_ITEM ",
                           "ERR UNKNOWN_TOPIC ", "ERR UNKNOWN_TOPIC ", "ERR UNKNOWN_ITEM "};
    for (int i = 0; i < 6; ++i) {
        c->sendLine(requests[i]);
        EXPECT_TRUE(c->nextOrEmpty().startsWith(codes[i])) << requests[i];
    }
    EXPECT_TRUE(c->linesBeforePong().isEmpty());
}

TEST_F(LinkServerTest, PutGoesToTheTopicWhichMayRefuse)
{
    start();
    auto watcher = client();
    watcher->sendLine("SUB simulator dosimeter");
    watcher->linesBeforePong();

    auto c = client();
    c->sendLine("PUT data A \"1\"");
    EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR NOT_SUPPORTED "));
    EXPECT_EQ(data.value("A").seq, 0u);

    c->sendLine("PUT simulator dosimeter \" 0.5\"");
    EXPECT_EQ(c->nextOrEmpty(), "OK PUT simulator dosimeter");
    EXPECT_EQ(simulator.puts, QStringList{" 0.5"});
    const QList<QByteArray> seen = watcher->linesBeforePong();
    ASSERT_EQ(seen.size(), 1);
    EXPECT_TRUE(seen[0].endsWith(" \" 0.5\""));

    c->sendLine("PUT simulator dosimeter \"lots\"");
    EXPECT_EQ(c->nextOrEmpty(), "ERR BAD_VALUE dosimeter wants 0 to 1");
    c->sendLine("EXEC [zero]");
    EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR NOT_SUPPORTED "));
}

TEST_F(LinkServerTest, MalformedLinesGetBadRequest)
{
    start();
    auto c = client();
    for (QByteArray bad : {QByteArray("HELLO"), QByteArray("GET data"), QByteArray(""),
                           QByteArray("PUT simulator dosimeter \"open"),
                           QByteArray("GET data \xC3\x28"), QByteArray("SUB data A TEPID")}) {
        c->sendLine(bad);
        EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR BAD_REQUEST ")) << bad.toStdString();
    }
    EXPECT_TRUE(c->linesBeforePong().isEmpty());
}

TEST_F(LinkServerTest, LinesOfMoreThanTheLimitEndTheConversation)
{
    start();
    auto c = client();
    // 1024 bytes is still a line (an unknown command, but answered).
    c->sendLine("X" + QByteArray(1023, 'y'));
    EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR BAD_REQUEST "));
    c->sendLine("X" + QByteArray(1024, 'y'));
    EXPECT_TRUE(c->nextOrEmpty().startsWith("ERR LINE_TOO_LONG "));
    EXPECT_TRUE(c->waitClosed());

    // Also without any line end in sight.
    auto d = client();
    d->send(QByteArray(4000, 'z'));
    EXPECT_TRUE(d->nextOrEmpty().startsWith("ERR LINE_TOO_LONG "));
    EXPECT_TRUE(d->waitClosed());
}

TEST_F(LinkServerTest, ClientsPastTheLimitAreTurnedAway)
{
    LinkLimits limits;
    limits.maxClients = 2;
    start(limits);
    auto a = client();
    auto b = client();
    TestClient extra(socketPath);
    EXPECT_TRUE(extra.nextOrEmpty().startsWith("ERR TOO_MANY_CLIENTS "));
    EXPECT_TRUE(extra.waitClosed());

    // The ones inside are unaffected, and a place that frees up can be taken.
    EXPECT_TRUE(a->linesBeforePong().isEmpty());
    QSignalSpy count(server.get(), &LinkServer::clientCountChanged);
    b.reset();
    ASSERT_TRUE(count.wait(1000));
    EXPECT_EQ(server->clientCount(), 1);
    auto c = client();
    EXPECT_TRUE(c->linesBeforePong().isEmpty());
}

TEST_F(LinkServerTest, ClientsThatHaveClosedDoNotCountAtTheLimit)
{
    LinkLimits limits;
    limits.maxClients = 2;
    start(limits);
    {
        RawClient a(socketPath), b(socketPath);
        ASSERT_TRUE(QTest::qWaitFor([this] { return server->clientCount() == 2; }, 1000));
    }
    // Both have closed; the next one comes before the event loop has seen
    // either close (the listener is served first).
    RawClient next(socketPath);
    ASSERT_TRUE(next.connected);
    QByteArray got;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (got += next.drain()).contains('\n'); }, 1000));
    EXPECT_TRUE(got.startsWith("HELLO LINK/1 KALVOR\n")) << got.toStdString();
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(LinkServerTest, ListeningOutlivesAFailedAccept)
{
    start();
    RawClient waiting(socketPath);
    ASSERT_TRUE(waiting.connected);
    // No descriptor left for the process: the accept fails (EMFILE).
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit none = old;
    none.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    QTest::qWait(50);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(server->clientCount(), 0) << "the accept did not fail";

    QByteArray got;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (got += waiting.drain()).contains('\n'); }, 2000));
    EXPECT_TRUE(got.startsWith("HELLO LINK/1 KALVOR\n")) << got.toStdString();
    auto later = client();
    EXPECT_TRUE(later->linesBeforePong().isEmpty());
}

TEST_F(LinkServerTest, PeersOfAnotherUserAreRefused)
{
    // Only this user can connect in a test, so the server is told to expect
    // another user id; the accepted case is every other test here.
    LinkLimits limits;
    limits.peerUid = ::geteuid() + 1;
    start(limits);
    QSignalSpy dropped(server.get(), &LinkServer::clientDropped);
    TestClient c(socketPath);
    EXPECT_TRUE(c.nextOrEmpty().startsWith("ERR ACCESS_DENIED "));
    EXPECT_TRUE(c.waitClosed());
    EXPECT_EQ(dropped.size(), 1);
    EXPECT_EQ(server->clientCount(), 0);
}

TEST_F(LinkServerTest, ClientThatReadsLateGetsTheLatestValueWithAGap)
{
    start();
    RawClient slow(socketPath);
    ASSERT_TRUE(slow.connected);
    slow.send("SUB data A HOT\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 1; }, 1000));

    // Far more than the socket holds while nobody reads (each line near the
    // 1024-byte limit, which cuts longer values).
    const QString filler(950, QLatin1Char('x'));
    const int sets = 1000;
    for (int i = 1; i <= sets; ++i) {
        data.set("A", filler + QString::number(i));
        QCoreApplication::processEvents();
    }
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += slow.drain();
            return got.contains(QByteArray("UPDATE data A ") + QByteArray::number(sets) + ' ');
        },
        1500);
    const QList<quint64> seqs = updateSeqs(got.split('\n'));
    ASSERT_FALSE(seqs.isEmpty());
    EXPECT_EQ(seqs.last(), quint64(sets));
    EXPECT_LT(seqs.size(), sets);  // older sets were replaced
    for (int i = 1; i < seqs.size(); ++i)
        ASSERT_LT(seqs[i - 1], seqs[i]);
    EXPECT_TRUE(got.endsWith(filler.toLatin1() + QByteArray::number(sets) + "\"\n"));
    EXPECT_EQ(server->clientCount(), 1);  // slow, not cut off
}

TEST_F(LinkServerTest, StalledClientIsCutOffWhileOthersKeepTheirCadence)
{
    LinkLimits limits;
    limits.stallTimeoutMs = 200;
    limits.writeLowWaterBytes = 64 * 1024;  // a few readings may be in flight to the reader
    start(limits);
    RawClient stalled(socketPath);
    ASSERT_TRUE(stalled.connected);
    stalled.send("SUB data A HOT\n");
    auto reader = client();
    reader->sendLine("SUB data A HOT");
    reader->linesBeforePong();
    QSignalSpy dropped(server.get(), &LinkServer::clientDropped);

    // A reading every 2 ms, each line near the line limit, to fill the
    // stalled socket soon.
    const QString filler(950, QLatin1Char('r'));
    int sets = 0;
    QTimer reading;
    QObject::connect(&reading, &QTimer::timeout, [&] { data.set("A", filler + QString::number(++sets)); });
    reading.start(2);
    (void)QTest::qWaitFor([&] { return !dropped.isEmpty() && sets >= 50; }, 1800);
    reading.stop();
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_TRUE(dropped[0][0].toString().contains(QStringLiteral("no write progress")));
    EXPECT_EQ(server->clientCount(), 1);

    // The reader saw every reading, in order, without a gap.
    const QList<QByteArray> lines = reader->linesBeforePong();
    const QList<quint64> seqs = updateSeqs(lines);
    ASSERT_EQ(seqs.size(), sets);
    for (int i = 0; i < seqs.size(); ++i)
        ASSERT_EQ(seqs[i], quint64(i + 1));

    // What the stalled client had in its socket stays readable, then it ends.
    (void)QTest::qWaitFor([&] { stalled.drain(); return stalled.eof; }, 500);
    EXPECT_TRUE(stalled.eof);
}

TEST_F(LinkServerTest, ClientThatPilesUpRepliesIsCutOffPastTheUnsentLimit)
{
    LinkLimits limits;
    limits.maxUnsentBytes = 64 * 1024;
    start(limits);
    data.set("A", QString(1000, QLatin1Char('g'))); // a line near the limit
    RawClient greedy(socketPath);
    ASSERT_TRUE(greedy.connected);
    QSignalSpy dropped(server.get(), &LinkServer::clientDropped);
    QByteArray gets;
    for (int i = 0; i < 2000; ++i)  // 2 MB of replies, read by nobody
        gets += "GET data A\n";
    greedy.send(gets);
    ASSERT_TRUE(dropped.wait(1000));
    EXPECT_TRUE(dropped[0][0].toString().contains(QStringLiteral("unsent")));
    EXPECT_EQ(server->clientCount(), 0);
}

TEST_F(LinkServerTest, SocketIsPrivateAndRemovedOnClose)
{
    start();
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(socketPath).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    ASSERT_EQ(::lstat(QFile::encodeName(LinkPaths::socketDir()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    server->close();
    EXPECT_FALSE(QFileInfo::exists(socketPath));
}

TEST_F(LinkServerTest, StaleSocketOfACrashedCopyIsReplaced)
{
    {
        // Bound and closed without unlinking: what a killed program leaves.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(socketPath);
        std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    ASSERT_TRUE(QFileInfo::exists(socketPath));
    start();
    auto c = client();
    EXPECT_TRUE(c->linesBeforePong().isEmpty());
}

TEST_F(LinkServerTest, PathThatIsNotASocketIsLeftAlone)
{
    QFile file(socketPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious");
    file.close();

    LinkServer s({&data});
    QString why;
    EXPECT_FALSE(s.listen(socketPath, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("not a socket"))) << why.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "precious");
}

TEST_F(LinkServerTest, LiveSocketOfAnotherCopyIsLeftAlone)
{
    start();
    LinkServer second({&data});
    QString why;
    EXPECT_FALSE(second.listen(socketPath, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("already serves"))) << why.toStdString();
    auto c = client();  // the first copy still answers
    EXPECT_TRUE(c->linesBeforePong().isEmpty());
}
