#include "link/LinkPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kalvor;

namespace {

class EnvGuard {
public:
    EnvGuard() : had_(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")), old_(qgetenv("XDG_RUNTIME_DIR")) {}
    ~EnvGuard()
    {
        if (had_)
            qputenv("XDG_RUNTIME_DIR", old_);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

private:
    bool had_;
    QByteArray old_;
};

mode_t modeOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

void chmodPath(const QString& path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

TEST(LinkPaths, FolderFollowsXdgRuntimeDirElseTmpPerUser)
{
    EnvGuard guard;
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234/");
    EXPECT_EQ(LinkPaths::socketDir(), QStringLiteral("/run/user/1234/KALVOR"));
    EXPECT_EQ(LinkPaths::socketPath(), QStringLiteral("/run/user/1234/KALVOR/link.sock"));
    EXPECT_EQ(LinkPaths::lockPath(), QStringLiteral("/run/user/1234/KALVOR/link.lock"));

    const QString fallback = QStringLiteral("/tmp/KALVOR-%1").arg(::getuid());
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(LinkPaths::socketDir(), fallback);
    qputenv("XDG_RUNTIME_DIR", "");
    EXPECT_EQ(LinkPaths::socketDir(), fallback);
    qputenv("XDG_RUNTIME_DIR", "relative/dir");
    EXPECT_EQ(LinkPaths::socketDir(), fallback);
}

TEST(LinkPaths, PrepareDirCreatesAPrivateFolderDespiteTheUmask)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.filePath(QStringLiteral("KALVOR"));
    const mode_t oldMask = ::umask(0277);  // would leave the owner without write and search
    QString why;
    const bool ok = LinkPaths::prepareDir(dir, &why);
    ::umask(oldMask);
    ASSERT_TRUE(ok) << why.toStdString();
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_TRUE(LinkPaths::prepareDir(dir, &why)) << why.toStdString();  // and again
}

TEST(LinkPaths, PrepareDirRefusesWhatItMustNotUseAndChangesNothing)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QString why;

    const QString open = tmp.filePath(QStringLiteral("open"));
    ASSERT_TRUE(QDir().mkdir(open));
    chmodPath(open, 0755);
    EXPECT_FALSE(LinkPaths::prepareDir(open, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("0755"))) << why.toStdString();
    EXPECT_EQ(modeOf(open), 0755u);

    const QString file = tmp.filePath(QStringLiteral("file"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(LinkPaths::prepareDir(file, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("not a directory"))) << why.toStdString();

    const QString target = tmp.filePath(QStringLiteral("target"));
    ASSERT_TRUE(QDir().mkdir(target));
    chmodPath(target, 0700);
    const QString link = tmp.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_FALSE(LinkPaths::prepareDir(link, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("symbolic link"))) << why.toStdString();

    EXPECT_FALSE(LinkPaths::prepareDir(tmp.filePath(QStringLiteral("no/such/parent")), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("cannot create"))) << why.toStdString();
}

TEST(LinkPaths, PrepareDirRefusesAFolderOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.filePath(QStringLiteral("theirs"));
    ASSERT_TRUE(QDir().mkdir(dir));
    chmodPath(dir, 0700);
    ASSERT_EQ(::chown(QFile::encodeName(dir).constData(), 4242, 4242), 0);
    QString why;
    EXPECT_FALSE(LinkPaths::prepareDir(dir, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("4242"))) << why.toStdString();
}

TEST(InstanceLock, SecondLockIsRefusedAsAlreadyRunningUntilTheFirstGoes)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString path = tmp.filePath(QStringLiteral("link.lock"));
    InstanceLock::Status status = InstanceLock::Status::Failed;
    QString why;

    std::optional<InstanceLock> first = InstanceLock::acquire(path, &status, &why);
    ASSERT_TRUE(first.has_value()) << why.toStdString();
    EXPECT_EQ(status, InstanceLock::Status::Acquired);
    EXPECT_EQ(modeOf(path), 0600u);

    std::optional<InstanceLock> second = InstanceLock::acquire(path, &status, &why);
    EXPECT_FALSE(second.has_value());
    EXPECT_EQ(status, InstanceLock::Status::AlreadyRunning);
    EXPECT_TRUE(why.contains(QString::number(::getpid()))) << why.toStdString();

    // Moving keeps the lock; only the end of the last owner frees it.
    InstanceLock moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(InstanceLock::acquire(path, &status, &why).has_value());
    {
        InstanceLock gone = std::move(moved);
    }
    EXPECT_TRUE(InstanceLock::acquire(path, &status, &why).has_value()) << why.toStdString();
}

TEST(InstanceLock, OtherFailuresAreNotAlreadyRunning)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    InstanceLock::Status status = InstanceLock::Status::Acquired;
    QString why;
    EXPECT_FALSE(InstanceLock::acquire(tmp.filePath(QStringLiteral("missing/link.lock")), &status,
                                       &why));
    EXPECT_EQ(status, InstanceLock::Status::Failed);
    EXPECT_FALSE(why.isEmpty());

    // A directory where the lock file should be.
    const QString dir = tmp.filePath(QStringLiteral("link.lock"));
    ASSERT_TRUE(QDir().mkdir(dir));
    EXPECT_FALSE(InstanceLock::acquire(dir, &status, &why));
    EXPECT_EQ(status, InstanceLock::Status::Failed);
}

TEST(InstanceLock, LockOfAKilledProcessIsFreedAtOnce)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString path = tmp.filePath(QStringLiteral("link.lock"));
    const QByteArray cpath = QFile::encodeName(path);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);

    // The child holds the lock as the program does (flock on an open file)
    // and is then killed without any chance to clean up.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(cpath.constData(), O_RDWR | O_CREAT, 0600);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'L' : 'E';
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(pipeFds[1]);
    char state = 0;
    ASSERT_EQ(::read(pipeFds[0], &state, 1), 1);
    ::close(pipeFds[0]);
    ASSERT_EQ(state, 'L');

    InstanceLock::Status status = InstanceLock::Status::Failed;
    QString why;
    EXPECT_FALSE(InstanceLock::acquire(path, &status, &why).has_value());
    EXPECT_EQ(status, InstanceLock::Status::AlreadyRunning);

    ::kill(child, SIGKILL);
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(InstanceLock::acquire(path, &status, &why).has_value()) << why.toStdString();
    EXPECT_EQ(status, InstanceLock::Status::Acquired);
}

TEST(InstanceLock, DefaultPlacePreparesTheFolder)
{
    EnvGuard guard;
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.path()));
    InstanceLock::Status status = InstanceLock::Status::Failed;
    QString why;
    std::optional<InstanceLock> lock = InstanceLock::acquire(&status, &why);
    ASSERT_TRUE(lock.has_value()) << why.toStdString();
    EXPECT_EQ(lock->path(), tmp.filePath(QStringLiteral("KALVOR/link.lock")));
    EXPECT_EQ(modeOf(tmp.filePath(QStringLiteral("KALVOR"))), 0700u);
}
