#include "link/LinkTrust.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kalvor {

namespace {

using Verdict = LinkTrust::Verdict;

Verdict say(QString* why, Verdict verdict, const QString& text)
{
    if (why)
        *why = text;
    return verdict;
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString you() { return LinkTrust::describeUser(::geteuid()); }

QString kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    return QStringLiteral("not a socket");
}

} // namespace

QString LinkTrust::describeUser(uid_t uid)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_name && *found->pw_name)
        return QStringLiteral("%1 (user id %2)").arg(QString::fromLocal8Bit(found->pw_name)).arg(uid);
    return QStringLiteral("user id %1").arg(uid);
}

LinkTrust::Verdict LinkTrust::checkPath(const QString& socketPath, QString* why)
{
    const QString folder = QFileInfo(socketPath).absolutePath();
    const QString notRunning =
        QStringLiteral("no KALVOR program is running (no socket at %1)").arg(socketPath);
    const QString refusing = QStringLiteral("not trusting %1: ").arg(socketPath);

    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return say(why, Verdict::Absent, notRunning);
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("cannot inspect its folder %1: %2")
                                  .arg(folder, errnoText(errno)));
    }
    const QString owner = describeUser(st.st_uid);
    if (!S_ISDIR(st.st_mode))
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("its folder %1 is %2 of %3, not a real directory; "
                                             "someone may be posing as KALVOR")
                                  .arg(folder, kindOf(st.st_mode), owner));
    if (st.st_uid != ::geteuid())
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("its folder %1 belongs to %2, not to you, %3; "
                                             "another user may have made it to pose as KALVOR "
                                             "(only its owner or root can remove it)")
                                  .arg(folder, owner, you()));
    if ((st.st_mode & 0777) != 0700)
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("its folder %1 (owner %2) has mode 0%3, not 0700, "
                                             "so other users could have put the socket there")
                                  .arg(folder, owner)
                                  .arg(st.st_mode & 07777, 3, 8, QLatin1Char('0')));

    if (::lstat(QFile::encodeName(socketPath).constData(), &st) != 0) {
        if (errno == ENOENT)
            return say(why, Verdict::Absent, notRunning);
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("cannot inspect it: %1").arg(errnoText(errno)));
    }
    if (!S_ISSOCK(st.st_mode))
        return say(why, Verdict::Refused,
                   refusing + QStringLiteral("it is %1 of %2, not a socket")
                                  .arg(kindOf(st.st_mode), describeUser(st.st_uid)));
    return Verdict::Trusted;
}

LinkTrust::Verdict LinkTrust::checkPeer(qintptr fd, const QString& socketPath, QString* why)
{
    struct ucred cred {};
    socklen_t length = sizeof cred;
    if (fd < 0 || ::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return say(why, Verdict::Refused,
                   QStringLiteral("not trusting %1: cannot tell which user serves it (%2)")
                       .arg(socketPath, errnoText(fd < 0 ? EBADF : errno)));
    if (cred.uid != ::geteuid())
        return say(why, Verdict::Refused,
                   QStringLiteral("not trusting %1: the program serving it runs as %2, "
                                  "not as you, %3")
                       .arg(socketPath, describeUser(cred.uid), you()));
    return Verdict::Trusted;
}

LinkTrust::Connect LinkTrust::connect(QLocalSocket& socket, const QString& givenPath,
                                      int timeoutMs, QString* why)
{
    socket.abort();
    // QLocalSocket looks for a relative name in the temp folder: the path
    // checked and the path connected to are this one, made absolute.
    const QString socketPath = QDir::isAbsolutePath(givenPath)
                                   ? givenPath
                                   : QDir::cleanPath(QDir::current().absoluteFilePath(givenPath));
    switch (checkPath(socketPath, why)) {
    case Verdict::Trusted:
        break;
    case Verdict::Absent:
        return Connect::NotRunning;
    case Verdict::Refused:
        return Connect::Refused;
    }
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        const QLocalSocket::LocalSocketError error = socket.error();
        const QString text = socket.errorString();
        socket.abort();
        switch (error) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            say(why, Verdict::Absent,
                QStringLiteral("no KALVOR program is running (nothing accepts at %1)")
                    .arg(socketPath));
            return Connect::NotRunning;
        case QLocalSocket::SocketAccessError:
            say(why, Verdict::Refused,
                QStringLiteral("permission denied on %1").arg(socketPath));
            return Connect::Denied;
        case QLocalSocket::SocketTimeoutError:
            say(why, Verdict::Refused,
                QStringLiteral("%1 did not accept the connection within %2 ms")
                    .arg(socketPath)
                    .arg(timeoutMs));
            return Connect::Failed;
        default:
            say(why, Verdict::Refused,
                QStringLiteral("cannot connect to %1: %2").arg(socketPath, text));
            return Connect::Failed;
        }
    }
    if (checkPeer(socket.socketDescriptor(), socketPath, why) != Verdict::Trusted) {
        socket.abort();
        return Connect::Refused;
    }
    return Connect::Connected;
}

} // namespace kalvor
