#pragma once
// One card, one program: a system-wide lock that a program driving the card
// on the bus holds for its whole life, taken before its first port access.
// It is an flock() on /run/lock/kalvor.lock, never opened through a symbolic
// link. The Debian package has it made at boot as root:kalvor 0660
// (tmpfiles.d), so that only the members of group kalvor can hold it. Where
// it is missing, the program makes it: 0660 in group kalvor when the user is
// a member, else 0644 (an install without the group, where every user may
// use the card). The holder also keeps a shared record lock on the file, so
// that a refused copy can ask the kernel which process holds it. The kernel
// drops both when the holder ends in any way.
#include <QString>
#include <optional>
#include <sys/types.h>

namespace kalvor {

class CardLock {
public:
    enum class Status { Acquired, Busy, Failed };

    // Where the lock lives. KALVOR_CARD_LOCK replaces the path, for tests on
    // a machine without the card; it is honoured only when the program runs
    // without raised privileges (secure_getenv), so it cannot take a
    // privileged copy out of the lock.
    static QString path();

    // On Busy or Failed returns nothing, and *why says what happened (for
    // Busy: who holds the card, as far as can be told). `group` is the group
    // of the card's users.
    static std::optional<CardLock> acquire(const QString& path, Status* status, QString* why,
                                           const QByteArray& group = "kalvor");

    CardLock(CardLock&& other) noexcept;
    CardLock& operator=(CardLock&& other) noexcept;
    CardLock(const CardLock&) = delete;
    CardLock& operator=(const CardLock&) = delete;
    ~CardLock();

private:
    explicit CardLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// The process holding a lock and its user, as text for messages:
// "process 1234 of user alice"; empty when it cannot be told.
QString describeHolder(pid_t pid);

} // namespace kalvor
