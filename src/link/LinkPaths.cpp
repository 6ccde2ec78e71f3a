#include "link/LinkPaths.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalvor {

namespace {

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

void say(QString* why, const QString& text)
{
    if (why)
        *why = text;
}

QString octal(mode_t mode) { return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0')); }

// "user alice (id 1000)"
QString userText(uid_t uid)
{
    const passwd* pw = ::getpwuid(uid);
    return pw ? QStringLiteral("user %1 (id %2)").arg(QString::fromLocal8Bit(pw->pw_name)).arg(uid)
              : QStringLiteral("user id %1").arg(uid);
}

int openLockFile(const QByteArray& path, int flags)
{
    int fd;
    do
        fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

QString LinkPaths::socketDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return QDir::cleanPath(runtime) + QStringLiteral("/KALVOR");
    return QStringLiteral("/tmp/KALVOR-%1").arg(::getuid());
}

QString LinkPaths::socketPath() { return socketDir() + QStringLiteral("/link.sock"); }

QString LinkPaths::lockPath() { return socketDir() + QStringLiteral("/link.lock"); }

bool LinkPaths::prepareDir(const QString& dir, QString* why)
{
    const QByteArray path = QFile::encodeName(dir);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT) {
            say(why, QStringLiteral("cannot inspect %1: %2").arg(dir, errnoText(errno)));
            return false;
        }
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            say(why, QStringLiteral("cannot create %1: %2").arg(dir, errnoText(errno)));
            return false;
        }
        if (::lstat(path.constData(), &st) != 0) {
            say(why, QStringLiteral("cannot inspect %1: %2").arg(dir, errnoText(errno)));
            return false;
        }
        // mkdir honours the umask; the owner needs all three rights.
        if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0700
            && ::chmod(path.constData(), 0700) == 0)
            st.st_mode = (st.st_mode & ~07777) | 0700;
    }
    if (S_ISLNK(st.st_mode)) {
        say(why, QStringLiteral("%1 is a symbolic link; the link folder must be a real directory "
                                "(nothing was changed). Remove the link (rm %1) and start KALVOR again.")
                     .arg(dir));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        say(why, QStringLiteral("%1 exists but is not a directory (nothing was changed). Move it away "
                                "and start KALVOR again.")
                     .arg(dir));
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        say(why, QStringLiteral("the link folder %1 belongs to %2, not to you (%3): another user made it, "
                                "perhaps to pass made-up readings to your programs. Nothing was changed and "
                                "nothing was served. Have it removed (sudo rm -r %1), or set XDG_RUNTIME_DIR "
                                "to a folder of your own, and start KALVOR again.")
                     .arg(dir, userText(st.st_uid), userText(::geteuid())));
        return false;
    }
    if ((st.st_mode & 0777) != 0700) {
        say(why, QStringLiteral("%1 has mode %2 but must have mode 0700, so that only its owner "
                                "can reach the link socket (nothing was changed). Make it so with "
                                "chmod 700 %1, or remove it, and start KALVOR again.")
                     .arg(dir, octal(st.st_mode)));
        return false;
    }
    return true;
}

std::optional<InstanceLock> InstanceLock::acquire(Status* status, QString* why)
{
    if (!LinkPaths::prepareDir(LinkPaths::socketDir(), why)) {
        if (status)
            *status = Status::Failed;
        return std::nullopt;
    }
    return acquire(LinkPaths::lockPath(), status, why);
}

std::optional<InstanceLock> InstanceLock::acquire(const QString& lockFilePath, Status* status,
                                                  QString* why)
{
    auto failed = [&](Status s, const QString& text) -> std::optional<InstanceLock> {
        if (status)
            *status = s;
        say(why, text);
        return std::nullopt;
    };
    const QByteArray path = QFile::encodeName(lockFilePath);
    // A file made here gets mode 0600 whatever the umask. One left without
    // write permission (by an earlier start under a umask such as 0277) is
    // opened for reading, checked, and given its mode back.
    int fd = openLockFile(path, O_RDWR | O_CREAT | O_EXCL);
    const bool created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        fd = openLockFile(path, O_RDWR);
        if (fd < 0 && errno == EACCES)
            fd = openLockFile(path, O_RDONLY);
    }
    if (fd < 0)
        return failed(Status::Failed, QStringLiteral("cannot open the lock file %1: %2")
                                          .arg(lockFilePath, errnoText(errno)));
    InstanceLock lock(fd, lockFilePath);  // closes fd on every early return

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return failed(Status::Failed,
                      QStringLiteral("the lock file %1 is not a regular file of this user; remove it "
                                     "and start KALVOR again")
                          .arg(lockFilePath));
    // Another name for some other file: it is neither written nor truncated.
    if (st.st_nlink != 1)
        return failed(Status::Failed,
                      QStringLiteral("the lock file %1 has %2 hard links, so it is also some other file; "
                                     "KALVOR leaves it alone. Remove it (rm %1) and start KALVOR again.")
                          .arg(lockFilePath)
                          .arg(st.st_nlink));
    if (created || (st.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600);

    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK)
            return failed(Status::Failed, QStringLiteral("cannot lock %1: %2")
                                              .arg(lockFilePath, errnoText(errno)));
        char buf[32] = {};
        const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        const QByteArray pid = QByteArray(buf, n > 0 ? int(n) : 0).trimmed();
        return failed(Status::AlreadyRunning,
                      pid.isEmpty() ? QStringLiteral("KALVOR is already running")
                                    : QStringLiteral("KALVOR is already running (process %1)")
                                          .arg(QString::fromLatin1(pid)));
    }

    // For the message a second copy shows; failure to write it is harmless.
    // A descriptor opened for reading only is replaced by a writable one now
    // that the mode is right; the lock stays with the first (same file).
    int writeFd = fd;
    if ((::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY)
        writeFd = openLockFile(path, O_WRONLY);
    struct stat wst {};
    if (writeFd >= 0 && ::fstat(writeFd, &wst) == 0 && wst.st_ino == st.st_ino && wst.st_dev == st.st_dev) {
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(writeFd, 0) == 0) {
            [[maybe_unused]] ssize_t written = ::pwrite(writeFd, pid.constData(), pid.size(), 0);
        }
    }
    if (writeFd >= 0 && writeFd != fd)
        ::close(writeFd);
    if (status)
        *status = Status::Acquired;
    return lock;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);  // releases the flock
}

} // namespace kalvor
