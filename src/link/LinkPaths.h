#pragma once
// Where the link service lives: a private folder of the user holding the
// socket link.sock and the lock file link.lock that keeps KALVOR to one copy
// per user. The folder is $XDG_RUNTIME_DIR/KALVOR, or /tmp/KALVOR-<uid> when
// XDG_RUNTIME_DIR is unset or not an absolute path.
#include <QString>
#include <optional>

namespace kalvor {

class LinkPaths {
public:
    static QString socketDir();   // no side effects
    static QString socketPath();  // socketDir() + "/link.sock"
    static QString lockPath();    // socketDir() + "/link.lock"

    // Creates `dir` with mode 0700 when it is missing (its parent must exist).
    // An existing path is used only when it is a real directory (not a
    // symbolic link) owned by this user with mode 0700; otherwise nothing is
    // changed and `why` says what is wrong.
    static bool prepareDir(const QString& dir, QString* why);
};

// The one-copy lock: an exclusive flock() on the lock file, held through an
// open descriptor for the life of the object. The kernel drops it when the
// process ends in any way, SIGKILL included, so a crash never leaves a stale
// lock behind. The file itself stays; it holds the owner's process id.
class InstanceLock {
public:
    enum class Status { Acquired, AlreadyRunning, Failed };

    // Takes the lock at `lockFilePath` (created 0600 whatever the umask when
    // missing; its folder must exist). A file of more than one hard link is
    // refused and left as it is. On AlreadyRunning or Failed returns nothing
    // and says why.
    static std::optional<InstanceLock> acquire(const QString& lockFilePath, Status* status,
                                               QString* why);
    // The same at LinkPaths::lockPath(), preparing LinkPaths::socketDir() first.
    static std::optional<InstanceLock> acquire(Status* status, QString* why);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    const QString& path() const { return path_; }

private:
    InstanceLock(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    QString path_;
};

} // namespace kalvor
