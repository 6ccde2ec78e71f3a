// The checks a client makes before it believes a link socket. Another user's
// folder or server: tests/faults/client_trust_faults_test.cpp.
#include "LinkTestSupport.h"

#include "link/LinkTrust.h"

#include <QDir>
#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kalvor;
using namespace kalvor::linktest;

namespace {

class LinkTrustTest : public LinkFixture {
protected:
    LinkTrust::Verdict check(const QString& path)
    {
        why.clear();
        return LinkTrust::checkPath(path, &why);
    }
    QString folder() const { return LinkPaths::socketDir(); }
    QString why;
};

// A socket file that nobody listens on, as a crashed program leaves it.
void bindWithoutListening(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

} // namespace

TEST_F(LinkTrustTest, NothingThereMeansNoProgram)
{
    EXPECT_EQ(check(runtimeDir.filePath("nosuch/link.sock")), LinkTrust::Verdict::Absent);
    EXPECT_TRUE(why.contains("no KALVOR program is running")) << why.toStdString();
    EXPECT_EQ(check(socketPath), LinkTrust::Verdict::Absent);  // folder, no socket

    QLocalSocket socket;
    bindWithoutListening(socketPath);
    EXPECT_EQ(check(socketPath), LinkTrust::Verdict::Trusted);
    EXPECT_EQ(LinkTrust::connect(socket, socketPath, 1000, &why), LinkTrust::Connect::NotRunning)
        << why.toStdString();
}

TEST_F(LinkTrustTest, TrustsTheProgramsOwnSocket)
{
    start();
    QLocalSocket socket;
    EXPECT_EQ(LinkTrust::connect(socket, socketPath, 1000, &why), LinkTrust::Connect::Connected)
        << why.toStdString();
    EXPECT_EQ(socket.state(), QLocalSocket::ConnectedState);
}

TEST_F(LinkTrustTest, RefusesAFolderOthersCouldWriteOrAnythingButASocket)
{
    ASSERT_EQ(::chmod(QFile::encodeName(folder()).constData(), 0755), 0);
    EXPECT_EQ(check(socketPath), LinkTrust::Verdict::Refused);
    EXPECT_TRUE(why.contains("mode 0755")) << why.toStdString();
    EXPECT_TRUE(why.contains(LinkTrust::describeUser(::geteuid()))) << why.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(folder()).constData(), 0700), 0);

    QFile file(socketPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(check(socketPath), LinkTrust::Verdict::Refused);
    EXPECT_TRUE(why.contains("a regular file")) << why.toStdString();
    QLocalSocket socket;
    EXPECT_EQ(LinkTrust::connect(socket, socketPath, 1000, &why), LinkTrust::Connect::Refused);

    // A symbolic link in place of the folder, even to a folder of this user.
    const QString real = runtimeDir.filePath("real");
    ASSERT_TRUE(QDir().rename(folder(), real));
    ASSERT_TRUE(QFile::link(real, folder()));
    EXPECT_EQ(check(socketPath), LinkTrust::Verdict::Refused);
    EXPECT_TRUE(why.contains("a symbolic link")) << why.toStdString();
}
