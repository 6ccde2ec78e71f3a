#include "hw/CardLock.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kalvor {

namespace {

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString userName(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QStringLiteral("id %1").arg(uid);
}

QString groupName(gid_t gid)
{
    if (const group* gr = ::getgrgid(gid))
        return QString::fromLocal8Bit(gr->gr_name);
    return QStringLiteral("id %1").arg(gid);
}

bool isMemberOf(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

int openNoFollow(const QByteArray& path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

QString describeHolder(pid_t pid)
{
    if (pid <= 0)
        return QString();
    struct stat st {};
    const QByteArray proc = QByteArray("/proc/") + QByteArray::number(qint64(pid));
    if (::stat(proc.constData(), &st) != 0)
        return QStringLiteral("process %1, whose user cannot be seen here (/proc hides the processes "
                              "of other users)").arg(pid);
    return QStringLiteral("process %1 of user %2").arg(pid).arg(userName(st.st_uid));
}

QString CardLock::path()
{
    if (const char* fake = ::secure_getenv("KALVOR_CARD_LOCK"); fake && *fake)
        return QFile::decodeName(fake);
    return QStringLiteral("/run/lock/kalvor.lock");
}

std::optional<CardLock> CardLock::acquire(const QString& lockPath, Status* status, QString* why,
                                          const QByteArray& groupOfUsers)
{
    auto failed = [&](Status s, const QString& text) -> std::optional<CardLock> {
        if (status)
            *status = s;
        if (why)
            *why = text;
        return std::nullopt;
    };
    const QByteArray path = QFile::encodeName(lockPath);

    // Made here (no tmpfiles.d made it at boot): then it gets its group and
    // mode whatever the umask. An existing file is opened as it is, for
    // reading only when it belongs to another user.
    const group* users = ::getgrnam(groupOfUsers.constData());
    const std::optional<gid_t> usersGid =
        users && isMemberOf(users->gr_gid) ? std::optional<gid_t>(users->gr_gid) : std::nullopt;
    bool created = true;
    int fd = openNoFollow(path, O_RDWR | O_CREAT | O_EXCL, usersGid ? 0660 : 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = openNoFollow(path, O_RDWR);
        if (fd < 0 && (errno == EACCES || errno == EROFS))
            fd = openNoFollow(path, O_RDONLY);
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        const bool exists = ::lstat(path.constData(), &st) == 0;
        if (exists && S_ISLNK(st.st_mode))
            return failed(Status::Failed,
                          QStringLiteral("the card lock %1 is a symbolic link, which KALVOR never follows. "
                                         "Remove it (sudo rm %1) and start KALVOR again.")
                              .arg(lockPath));
        // The package's lock: root:kalvor 0660, for the members of kalvor only.
        if (exists && err == EACCES && (st.st_mode & 0060) == 0060 && !isMemberOf(st.st_gid))
            return failed(Status::Failed,
                          QStringLiteral("only the members of group %2 may use the card, and you are not one "
                                         "(the card lock %1 is of group %2). An administrator adds you with "
                                         "sudo adduser %3 %2; then log in again.")
                              .arg(lockPath, groupName(st.st_gid), userName(::geteuid())));
        if (exists)
            return failed(Status::Failed, QStringLiteral("the card lock %1 (of user %2, mode %3) cannot be "
                                                         "opened: %4. Remove it (sudo rm %1) when no KALVOR "
                                                         "runs, and start KALVOR again.")
                                              .arg(lockPath, userName(st.st_uid))
                                              .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
                                              .arg(errnoText(err)));
        return failed(Status::Failed,
                      QStringLiteral("the card lock %1 cannot be created: %2").arg(lockPath, errnoText(err)));
    }
    CardLock lock(fd); // closes fd on every early return

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return failed(Status::Failed,
                      QStringLiteral("the card lock %1 is not a plain file (of one link); remove it "
                                     "(sudo rm %1) when no KALVOR runs, and start KALVOR again.")
                          .arg(lockPath));
    if (created) {
        if (usersGid)
            (void)!::fchown(fd, uid_t(-1), *usersGid);
        ::fchmod(fd, usersGid ? 0660 : 0644); // open() applied the umask
    }

    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK)
            return failed(Status::Failed, QStringLiteral("cannot lock %1: %2").arg(lockPath, errnoText(errno)));
        // The holder keeps a shared record lock: the kernel names its process.
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        // No process to name: a holder in another PID namespace (a
        // container; the kernel gives its id as 0), or one that took the lock
        // without the record lock KALVOR adds.
        const QString holder = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK
                                   ? describeHolder(probe.l_pid)
                                   : QString();
        return failed(Status::Busy,
                      holder.isEmpty()
                          ? QStringLiteral("the card lock %1 is held by a process that cannot be named from here "
                                           "(one in another container, or a program other than KALVOR)")
                                .arg(lockPath)
                          : QStringLiteral("another KALVOR drives the card (%1)").arg(holder));
    }
    struct flock mark {};
    mark.l_type = F_RDLCK;
    mark.l_whence = SEEK_SET;
    (void)::fcntl(fd, F_SETLK, &mark); // only for the message of a refused copy

    if (status)
        *status = Status::Acquired;
    return lock;
}

CardLock::CardLock(CardLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

CardLock& CardLock::operator=(CardLock&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

CardLock::~CardLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases both locks
}

} // namespace kalvor
