// kalvor-link run by a user whose link socket someone else got to first. With
// XDG_RUNTIME_DIR unset the socket lives in /tmp/KALVOR-<uid>, which any user
// can create before its owner does; a fake server there must not be believed.
// The tests act as two users, so they need root; the victim is a user id of
// its own per test process, so parallel runs never share a folder.
#include "faults/FaultSupport.h"

#include <gtest/gtest.h>

#include <grp.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

constexpr uid_t kNobody = 65534;

struct ToolRun {
    std::optional<int> exitCode;
    QByteArray out;
    QByteArray err;
};

bool become(uid_t uid)
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid_t(uid)) == 0 && ::setuid(uid) == 0;
}

class ClientTrustFaults : public ::testing::Test {
protected:
    enum class Switch { BeforeBind, BeforeListen };

    void SetUp() override
    {
        if (!isBuilt("kalvor-link"))
            GTEST_SKIP() << "kalvor-link is not built in " KALVOR_BIN_DIR;
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as a second user";
        victim = 300000 + uid_t(::getpid() % 100000);
        folder = QStringLiteral("/tmp/KALVOR-%1").arg(victim);
        QDir(folder).removeRecursively();
    }
    void TearDown() override
    {
        killAndReap(server);
        QDir(folder).removeRecursively();
    }

    QString socketPath() const { return folder + QStringLiteral("/link.sock"); }

    // A fake server at socketPath() that answers every GET with a made-up
    // value and every PUT with OK. It runs as `uid`, switching to it before it
    // makes the folder and binds (BeforeBind) or only before it listens, so
    // that a root-made socket is served by `uid`.
    void startFakeServer(uid_t uid, Switch when, bool makeFolder, mode_t socketMode)
    {
        sockaddr_un addr;
        int ready[2];
        ASSERT_TRUE(LineClient::address(socketPath(), &addr));
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        const QByteArray dir = QFile::encodeName(folder);
        const QByteArray path = QFile::encodeName(socketPath());
        static const char hello[] = "HELLO LINK/1 KALVOR\n";
        static const char value[] = "VALUE data A 7 2026-01-01T00:00:00.000Z \" 9.999\"\n";
        static const char ok[] = "OK PUT simulator lamp\n";
        server = ::fork();
        if (server == 0) {
            // Only system calls from here on: the parent has threads.
            if (when == Switch::BeforeBind && !become(uid))
                ::_exit(1);
            // Open to others, as an attacker would leave it.
            if (makeFolder && (::mkdir(dir.constData(), 0700) != 0 || ::chmod(dir.constData(), 0711) != 0))
                ::_exit(1);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
                || ::chmod(path.constData(), socketMode) != 0)
                ::_exit(1);
            if (when == Switch::BeforeListen && !become(uid))
                ::_exit(1);
            if (::listen(fd, 8) != 0)
                ::_exit(1);
            (void)!::write(ready[1], "k", 1);
            for (;;) {
                const int c = ::accept(fd, nullptr, nullptr);
                if (c < 0)
                    continue;
                (void)!::write(c, hello, sizeof hello - 1);
                char buf[4096];
                ssize_t n;
                while ((n = ::read(c, buf, sizeof buf)) > 0) {
                    if (::memmem(buf, size_t(n), "GET ", 4))
                        (void)!::write(c, value, sizeof value - 1);
                    if (::memmem(buf, size_t(n), "PUT ", 4))
                        (void)!::write(c, ok, sizeof ok - 1);
                }
                ::close(c);
            }
        }
        ::close(ready[1]);
        char c = 0;
        pollfd p{ready[0], POLLIN, 0};
        const bool up = server > 0 && ::poll(&p, 1, 5000) > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        ASSERT_TRUE(up) << "the fake server did not start";
    }

    // A folder made by root and given to the victim, mode 0700.
    void makeVictimsFolder()
    {
        const QByteArray dir = QFile::encodeName(folder);
        ASSERT_EQ(::mkdir(dir.constData(), 0700), 0);
        ASSERT_EQ(::chown(dir.constData(), victim, gid_t(victim)), 0);
    }

    // kalvor-link as the victim, with XDG_RUNTIME_DIR unset.
    ToolRun runAsVictim(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p.setProcessEnvironment(env);
        const uid_t uid = victim;
        p.setChildProcessModifier([uid] {
            if (!become(uid))
                ::_exit(120);
        });
        p.start(binary("kalvor-link"), args);
        ToolRun run;
        if (!p.waitForFinished(8000)) {
            p.kill();
            p.waitForFinished(2000);
        } else if (p.exitStatus() == QProcess::NormalExit) {
            run.exitCode = p.exitCode();
        }
        run.out = p.readAllStandardOutput();
        run.err = p.readAllStandardError();
        return run;
    }

    uid_t victim = 0;
    QString folder;
    pid_t server = -1;
};

TEST_F(ClientTrustFaults, PlantedFolderOfAnotherUserIsRefusedAndItsOwnerNamed)
{
    startFakeServer(kNobody, Switch::BeforeBind, true, 0777);
    for (const QStringList& args : {QStringList{"get", "A"}, QStringList{"get", "-a", "data:A"},
                                    QStringList{"put", "simulator:lamp", "0"},
                                    QStringList{"monitor", "A"}}) {
        const ToolRun r = runAsVictim(args);
        const std::string what = args.join(' ').toStdString() + ": " + text(r.err);
        EXPECT_EQ(r.exitCode, std::optional<int>(1)) << what;
        EXPECT_EQ(text(r.out), "") << what;
        EXPECT_TRUE(r.err.contains(QFile::encodeName(folder))) << what;
        EXPECT_TRUE(r.err.contains("nobody (user id 65534)")) << what;
        EXPECT_FALSE(r.err.contains("no KALVOR program is running")) << what;
    }
}

TEST_F(ClientTrustFaults, ServerOfAnotherUserInTheUsersOwnFolderIsRefused)
{
    makeVictimsFolder();
    startFakeServer(kNobody, Switch::BeforeListen, false, 0777);
    const ToolRun r = runAsVictim({"get", "A"});
    EXPECT_EQ(r.exitCode, std::optional<int>(1)) << text(r.err);
    EXPECT_EQ(text(r.out), "");
    EXPECT_TRUE(r.err.contains("runs as nobody (user id 65534)")) << text(r.err);
}

TEST_F(ClientTrustFaults, PermissionDeniedIsReportedAsSuch)
{
    makeVictimsFolder();
    startFakeServer(0, Switch::BeforeListen, false, 0700);
    const ToolRun r = runAsVictim({"get", "A"});
    EXPECT_EQ(r.exitCode, std::optional<int>(1)) << text(r.err);
    EXPECT_EQ(text(r.out), "");
    EXPECT_TRUE(r.err.contains("permission denied")) << text(r.err);
    EXPECT_FALSE(r.err.contains("no KALVOR program is running")) << text(r.err);
}

} // namespace
