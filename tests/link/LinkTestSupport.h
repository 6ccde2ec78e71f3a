#pragma once
// Shared pieces of the link service tests: a private XDG_RUNTIME_DIR per test,
// the program's topics, a server on them, and a line-reading test client.
#include "link/LinkTopic.h"
#include "link/LinkPaths.h"
#include "link/LinkServer.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace kalvor::linktest {

inline const QStringList kDataItems = {"A", "WL", "lblA1", "lblA2", "na", "nb", "nc"};

// A topic that accepts numbers from 0 to 1 and refuses anything else.
class WritableTopic : public LinkTopic {
public:
    using LinkTopic::LinkTopic;
    PutResult put(const QString& item, const QString& text) override
    {
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        if (!ok || v < 0 || v > 1)
            return {false, QStringLiteral("BAD_VALUE"), QStringLiteral("%1 wants 0 to 1").arg(item)};
        puts.append(text);
        set(item, text);
        return {};
    }
    QStringList puts;
};

class TestClient {
public:
    explicit TestClient(const QString& path)
    {
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] { collect(); });
        QObject::connect(&socket, &QLocalSocket::disconnected, [this] { closed = true; });
        socket.connectToServer(path);
    }
    ~TestClient()
    {
        socket.disconnect();
        socket.abort();
    }

    void send(QByteArrayView bytes) { socket.write(bytes.data(), bytes.size()); }
    void sendLine(const QByteArray& line) { send(line + '\n'); }

    // The next line, without its line end; nothing after `ms` or when closed.
    std::optional<QByteArray> next(int ms = 1000)
    {
        (void)QTest::qWaitFor([this] { return !lines.isEmpty() || closed; }, ms);
        if (lines.isEmpty())
            return std::nullopt;
        return lines.takeFirst();
    }
    QByteArray nextOrEmpty(int ms = 1000) { return next(ms).value_or(QByteArray("<nothing>")); }

    // Sends PING and returns every line that came before its PONG.
    QList<QByteArray> linesBeforePong()
    {
        sendLine("PING");
        QList<QByteArray> before;
        while (std::optional<QByteArray> line = next()) {
            if (*line == "PONG")
                return before;
            before.append(*line);
        }
        before.append("<no PONG>");
        return before;
    }

    bool waitClosed(int ms = 1000)
    {
        return QTest::qWaitFor([this] { return closed; }, ms);
    }

    QLocalSocket socket;
    QList<QByteArray> lines;
    bool closed = false;

private:
    void collect()
    {
        partial += socket.readAll();
        qsizetype end;
        while ((end = partial.indexOf('\n')) >= 0) {
            lines.append(partial.left(end));
            partial.remove(0, end + 1);
        }
    }
    QByteArray partial;
};

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtimeDir.isValid());
        hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
        QString why;
        ASSERT_TRUE(LinkPaths::prepareDir(LinkPaths::socketDir(), &why)) << why.toStdString();
        socketPath = LinkPaths::socketPath();
    }

    void TearDown() override
    {
        server.reset();
        if (hadRuntime)
            qputenv("XDG_RUNTIME_DIR", oldRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

    void start(const LinkLimits& limits = {})
    {
        server = std::make_unique<LinkServer>(QList<LinkTopic*>{&data, &simulator}, limits);
        QString why;
        ASSERT_TRUE(server->listen(socketPath, &why)) << why.toStdString();
    }

    // A client past the greeting.
    std::unique_ptr<TestClient> client()
    {
        auto c = std::make_unique<TestClient>(socketPath);
        const std::optional<QByteArray> hello = c->next();
        EXPECT_EQ(hello.value_or("<nothing>"), QByteArray("HELLO LINK/1 KALVOR"));
        return c;
    }

    QTemporaryDir runtimeDir;
    bool hadRuntime = false;
    QByteArray oldRuntime;
    QString socketPath;
    LinkTopic data{QStringLiteral("data"), kDataItems};
    WritableTopic simulator{QStringLiteral("simulator"), {QStringLiteral("dosimeter")}};
    std::unique_ptr<LinkServer> server;
};

} // namespace kalvor::linktest
