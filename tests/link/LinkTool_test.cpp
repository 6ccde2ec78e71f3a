// kalvor-link, the command-line client, run as a program against a server in
// this process. The event loop keeps running while the tool works.
#include "LinkTestSupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

using namespace kalvor;
using namespace kalvor::linktest;

namespace {

const QString kTool = QStringLiteral(KALVOR_BIN_DIR "/kalvor-link");

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class LinkToolTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        if (!QFileInfo(kTool).isExecutable())
            GTEST_SKIP() << "kalvor-link is not built at " << kTool.toStdString();
    }

    // Starts the tool; the caller waits for it.
    std::unique_ptr<QProcess> launch(QStringList args, bool withSocket = true,
                                     const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        if (withSocket)
            args = QStringList{QStringLiteral("--socket"), socketPath} + args;
        p->start(kTool, args);
        EXPECT_TRUE(p->waitForStarted(1000));
        return p;
    }

    static ToolRun finish(QProcess& p, int ms = 1800)
    {
        const bool done = QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, ms);
        if (!done) {
            p.kill();
            p.waitForFinished(1000);
            ADD_FAILURE() << "kalvor-link did not finish";
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    ToolRun run(const QStringList& args, bool withSocket = true)
    {
        auto p = launch(args, withSocket);
        return finish(*p);
    }
};

} // namespace

TEST_F(LinkToolTest, GetPrintsNameAndValueAsServed)
{
    start();
    data.set("A", " 0.123");
    data.set("WL", "510 nm");
    const ToolRun r = run({"get", "A", "WL"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("A  0.123\nWL 510 nm\n"));

    const ToolRun terse = run({"get", "-t", "A"});
    EXPECT_EQ(terse.out, QStringLiteral(" 0.123\n"));
    const ToolRun quoted = run({"get", "-q", "A"});
    EXPECT_EQ(quoted.out, QStringLiteral("A \" 0.123\"\n"));

    // A value that cannot be written is not a success.
    QProcess full;
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(kTool, {"--socket", socketPath, "get", "A"});
    const ToolRun failed = finish(full);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("cannot write to standard output"))) << failed.err.toStdString();
}

TEST_F(LinkToolTest, GetWidePrintsTimeAndSeqAndTakesColonNames)
{
    start();
    data.set("A", " 0.123");
    data.set("A", " 0.124");
    const ToolRun r = run({"get", "-a", "A", "simulator:dosimeter"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpression lines(QStringLiteral(
        R"(^A \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 2  0\.124\nsimulator:dosimeter - 0 \n$)"));
    EXPECT_TRUE(lines.match(r.out).hasMatch()) << r.out.toStdString();
    const ToolRun terse = run({"get", "-a", "-t", "-q", "simulator!dosimeter"});
    EXPECT_EQ(terse.out, QStringLiteral("- 0 \"\"\n"));
}

TEST_F(LinkToolTest, GetReportsAFailedItemAndGoesOn)
{
    start();
    data.set("nc", "0.950");
    const ToolRun r = run({"get", "bogus", "nc", "nosuch!A"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QStringLiteral("nc 0.950\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("bogus: UNKNOWN_ITEM"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("nosuch!A: UNKNOWN_TOPIC"))) << r.err.toStdString();
}

TEST_F(LinkToolTest, ExitCodesForUsageAndNoProgram)
{
    EXPECT_EQ(run({"get"}).exitCode, 2);
    EXPECT_EQ(run({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(run({"get", "a!b!c"}).exitCode, 2);
    EXPECT_EQ(run({"monitor", "A", "-n", "zero"}).exitCode, 2);
    EXPECT_EQ(run({"put", "simulator!dosimeter"}).exitCode, 2);
    // Options that do not apply to the command, and bad option values.
    for (const QStringList& args :
         {QStringList{"get", "--warm", "A"}, {"get", "-n", "3", "A"}, {"get", "--format=csv", "A"},
          {"get", "--local-time", "A"}, {"put", "-t", "simulator:lamp", "1"}, {"topics", "-a"},
          {"monitor", "-a", "A"}, {"monitor", "--format=xml", "A"},
          {"monitor", "--format=json", "-t", "A"}, {"get", "-w", "nan", "A"},
          {"get", "-w", "inf", "A"}, {"get", "-w", "0", "A"}, {"get", "-w", "-1", "A"}}) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << args.join(' ').toStdString();
    }

    const ToolRun help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: kalvor-link [options]"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("Exit status: 0 ok"))) << help.out.toStdString();

    const ToolRun none = run({"get", "A"});  // nothing listens yet
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_TRUE(none.err.contains(socketPath)) << none.err.toStdString();
    EXPECT_EQ(run({"monitor", "--no-wait", "A"}).exitCode, 3);
    EXPECT_EQ(run({"topics"}).exitCode, 3);
}

TEST_F(LinkToolTest, FindsTheSocketThroughXdgRuntimeDir)
{
    start();
    data.set("lblA1", "510 nm");
    auto p = launch({"get", "-t", "lblA1"}, false);  // inherits this test's XDG_RUNTIME_DIR
    const ToolRun r = finish(*p);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("510 nm\n"));
}

TEST_F(LinkToolTest, PutWritesWhereTheTopicAllows)
{
    start();
    const ToolRun ok = run({"put", "simulator!dosimeter", "0.5"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_EQ(simulator.puts, QStringList{"0.5"});

    const ToolRun bad = run({"put", "simulator!dosimeter", "lots"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("BAD_VALUE"))) << bad.err.toStdString();

    const ToolRun data = run({"put", "A", "--", "-1"});
    EXPECT_EQ(data.exitCode, 1);
    EXPECT_TRUE(data.err.contains(QStringLiteral("NOT_SUPPORTED"))) << data.err.toStdString();
}

TEST_F(LinkToolTest, TopicsAndItems)
{
    start();
    EXPECT_EQ(run({"topics"}).out, QStringLiteral("data\nsimulator\n"));
    EXPECT_EQ(run({"items"}).out, kDataItems.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_EQ(run({"items", "nosuch"}).exitCode, 1);
}

TEST_F(LinkToolTest, MonitorPrintsTimestampedUpdates)
{
    start();
    data.set("A", "Zeroing");
    auto p = launch({"monitor", "A", "-n", "3"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 1; }, 1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->bytesAvailable() > 0; }, 1000));
    data.set("A", " 0.101");
    data.set("A", "-0.004");
    const ToolRun r = finish(*p);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    const QRegularExpression line(QStringLiteral(R"(^A \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (.*)$)"));
    const QStringList values = {"Zeroing", " 0.101", "-0.004"};
    for (int i = 0; i < 3; ++i) {
        const QRegularExpressionMatch m = line.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1), values[i]);
    }
}

TEST_F(LinkToolTest, MonitorWarmAnnouncesChanges)
{
    start();
    auto p = launch({"monitor", "--warm", "WL", "-n", "2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->bytesAvailable() > 0; }, 1000));
    data.set("WL", "600 nm");
    const ToolRun r = finish(*p);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("WL "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" changed 0"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" changed 1"))) << lines[1].toStdString();
}

TEST_F(LinkToolTest, MonitorSurvivesARestartOfTheProgram)
{
    start();
    data.set("A", " 0.200");
    auto p = launch({"monitor", "-t", "A", "-n", "2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->bytesAvailable() > 0; }, 1000));

    server.reset();  // the program ends...
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->peek(4096).contains("*** disconnected"); }, 1000));
    data.set("A", " 0.300");
    start();  // ...and comes back
    const ToolRun r = finish(*p, 1500);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" 0.200")));
    EXPECT_EQ(lines[1], QStringLiteral("*** disconnected"));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral(" 0.300")));
}

TEST_F(LinkToolTest, MonitorStartedBeforeTheProgramWaitsForIt)
{
    auto p = launch({"monitor", "-t", "A", "-n", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->state() == QProcess::Running; }, 1000));
    QTest::qWait(1300);  // a few tries
    ASSERT_EQ(p->state(), QProcess::Running);
    data.set("A", " 0.500");
    start();
    const ToolRun r = finish(*p, 2000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith(QStringLiteral(" 0.500\n"))) << r.out.toStdString();
    EXPECT_EQ(r.err.count(QStringLiteral("waiting for it")), 1) << r.err.toStdString();
}

TEST_F(LinkToolTest, MonitorWithoutWaitingEndsWithTheProgram)
{
    start();
    auto p = launch({"monitor", "--no-wait", "--format=csv", "A"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->bytesAvailable() > 0; }, 1000));
    server.reset();
    const ToolRun r = finish(*p);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("*** disconnected"))) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("disconnected"))) << r.out.toStdString();
}

TEST_F(LinkToolTest, MonitorWritesCsvAndJson)
{
    start();
    const QString awkward = QStringLiteral("a,\"b\"\nc\x01\u00e9");
    data.set("lblA1", awkward);

    const ToolRun csv = run({"monitor", "--format=csv", "-n", "2", "lblA1", "lblA2"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    const QRegularExpression rows(QStringLiteral(
        "^name,time,seq,value\r\n"
        "lblA1,\\d{4}-[0-9T:.-]+Z,1,\"a,\"\"b\"\"\nc\x01\u00e9\"\r\n"
        "lblA2,,0,\r\n$"));
    EXPECT_TRUE(rows.match(csv.out).hasMatch()) << csv.out.toStdString();

    // Local time: the same moment, with the zone's offset.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Kolkata"));
    auto p = launch({"monitor", "--format=json", "--local-time", "-n", "2", "lblA1", "lblA2"}, true, env);
    const ToolRun json = finish(*p);
    EXPECT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QStringList lines = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << json.out.toStdString();
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[0].toStdString();
    EXPECT_EQ(first.value("name").toString(), QStringLiteral("lblA1"));
    EXPECT_EQ(first.value("value").toString(), awkward);
    EXPECT_EQ(first.value("seq").toInteger(), 1);
    const QString time = first.value("time").toString();
    EXPECT_TRUE(time.endsWith(QStringLiteral("+05:30"))) << time.toStdString();
    EXPECT_EQ(QDateTime::fromString(time, Qt::ISODateWithMs), data.value("lblA1").time);
    const QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    EXPECT_TRUE(second.value("time").isNull()) << lines[1].toStdString();
    EXPECT_EQ(second.value("value").toString(), QString());
}

TEST_F(LinkToolTest, OverlongLineEndsTheConversation)
{
    // Something that greets as KALVOR does and then never ends its line.
    QLocalServer fake;
    ASSERT_TRUE(fake.listen(socketPath));
    QObject::connect(&fake, &QLocalServer::newConnection, [&] {
        QLocalSocket* s = fake.nextPendingConnection();
        s->write("HELLO LINK/1 KALVOR\nVALUE data A 1 - \"");
        s->write(QByteArray(200 * 1024, 'x'));
    });
    const ToolRun r = run({"get", "A"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("longer than 64 KiB"))) << r.err.toStdString();
}

TEST_F(LinkToolTest, ClosedPipeClosedStreamsAndARelativeSocket)
{
    start();
    QTimer readings;
    QObject::connect(&readings, &QTimer::timeout, [this] { data.set("A", " 0.123"); });
    readings.start(20);

    // A reader that leaves after one line ends the monitor quietly, with 0.
    QProcess pipe;
    pipe.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                        QStringLiteral("set -o pipefail; '%1' --socket '%2' monitor A | head -n 1 >/dev/null")
                                            .arg(kTool, socketPath)});
    const ToolRun closedPipe = finish(pipe, 5000);
    EXPECT_EQ(closedPipe.exitCode, 0) << closedPipe.err.toStdString();
    EXPECT_TRUE(closedPipe.err.isEmpty()) << closedPipe.err.toStdString();

    // Started with standard input and output closed: the value goes nowhere,
    // not into the link socket that would take their place.
    QProcess closed;
    closed.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                        QStringLiteral("'%1' --socket '%2' get A WL <&- >&-").arg(kTool, socketPath)});
    const ToolRun closedStreams = finish(closed);
    EXPECT_EQ(closedStreams.exitCode, 0) << closedStreams.err.toStdString();
    EXPECT_TRUE(closedStreams.err.isEmpty()) << closedStreams.err.toStdString();

    // A relative --socket is taken from the current folder.
    QProcess relative;
    relative.setWorkingDirectory(QFileInfo(socketPath).path());
    relative.start(kTool, {QStringLiteral("--socket"), QFileInfo(socketPath).fileName(), QStringLiteral("get"),
                           QStringLiteral("-t"), QStringLiteral("A")});
    const ToolRun r = finish(relative);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral(" 0.123\n"));
}

TEST_F(LinkToolTest, WaitBoundsSendingAndALedPutThatEndsAtOnceIsWarnedOf)
{
    // Something that greets as KALVOR does and then never reads: requests
    // beyond the socket's buffers wait for it no longer than -w.
    {
        QLocalServer fake;
        ASSERT_TRUE(fake.listen(socketPath));
        QObject::connect(&fake, &QLocalServer::newConnection, [&] {
            QLocalSocket* s = fake.nextPendingConnection();
            s->setReadBufferSize(1); // takes next to nothing from the kernel
            s->write("HELLO LINK/1 KALVOR\n");
        });
        QStringList args{QStringLiteral("-w"), QStringLiteral("0.3"), QStringLiteral("get")};
        for (int i = 0; i < 1000; ++i)
            args << QStringLiteral("%1%2").arg(i).arg(QString(900, QLatin1Char('x')));
        QElapsedTimer clock;
        clock.start();
        const ToolRun r = finish(*launch(args), 3000);
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("took no request within 300 ms"))) << r.err.toStdString();
        EXPECT_LT(clock.elapsed(), 2500);
    }

    WritableTopic reader{QStringLiteral("reader"), {QStringLiteral("led")}};
    server = std::make_unique<LinkServer>(QList<LinkTopic*>{&data, &reader});
    QString why;
    ASSERT_TRUE(server->listen(socketPath, &why)) << why.toStdString();
    const ToolRun on = run({"put", "reader:led", "1"});
    EXPECT_EQ(on.exitCode, 0) << on.err.toStdString();
    EXPECT_TRUE(on.err.contains(QStringLiteral("goes off again as kalvor-link ends"))) << on.err.toStdString();
    EXPECT_TRUE(on.err.contains(QStringLiteral("kalvor-link put reader:led 5000"))) << on.err.toStdString();
    const ToolRun off = run({"put", "reader:led", "0"});
    EXPECT_EQ(off.exitCode, 0);
    EXPECT_TRUE(off.err.isEmpty()) << off.err.toStdString();
    EXPECT_EQ(reader.puts, (QStringList{"1", "0"}));
}
