#pragma once
// What a client checks before it believes a link socket: the same things the
// server checks about its clients. Anyone can create /tmp/KALVOR-<uid> before
// its user does and serve made-up readings there, so a client trusts a
// socket only when
//   - its folder is a real directory (not a symbolic link) owned by this user
//     with mode 0700,
//   - the path holds a socket, and
//   - the process that accepted the connection runs as this user
//     (SO_PEERCRED).
// "This user" is the effective user id, as for the server.
#include <QString>
#include <QtGlobal>
#include <sys/types.h>

class QLocalSocket;

namespace kalvor {

class LinkTrust {
public:
    enum class Verdict {
        Trusted,  // the checks passed
        Absent,   // no folder or no socket: no program serves there
        Refused,  // something is there that this user must not trust, or it cannot be checked
    };

    // Before connecting: the folder holding `socketPath`, and the socket.
    static Verdict checkPath(const QString& socketPath, QString* why);
    // After connecting: the server at the other end of the connected Unix
    // socket `fd` runs as this user.
    static Verdict checkPeer(qintptr fd, const QString& socketPath, QString* why);

    enum class Connect {
        Connected,   // connected and trusted; the greeting is still to be read
        NotRunning,  // nothing at the path, or nothing accepts there
        Refused,     // not trusted (why says why and whose it is)
        Denied,      // permission denied on the socket
        Failed,      // timeout or another error
    };
    // checkPath, connect `socket` (waiting at most `timeoutMs`), then checkPeer.
    // On anything but Connected the socket is left unconnected.
    static Connect connect(QLocalSocket& socket, const QString& socketPath, int timeoutMs,
                           QString* why);

    // "alice (user id 1000)", or "user id 1000" when the name is unknown.
    static QString describeUser(uid_t uid);
};

} // namespace kalvor
