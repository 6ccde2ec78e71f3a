// The card lock: one holder at a time, its group and mode whatever the umask,
// never taken through a symbolic link, and a holder that cannot be named
// said to be one.
#include "hw/CardLock.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kalvor;

namespace {
struct stat statOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st;
}
} // namespace

TEST(CardLock, MadeForTheGroupOfCardUsersOrForAllOneHolderAtATime)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A user in the card users' group (here: the test's own group) makes it
    // 0660 in that group; without such a group (an install without the
    // package) it is 0644, for every user.
    const group* own = ::getgrgid(::getegid());
    ASSERT_NE(own, nullptr);
    const QString inGroup = dir.filePath(QStringLiteral("group.lock"));
    const QString forAll = dir.filePath(QStringLiteral("all.lock"));
    const mode_t old = ::umask(0277);
    CardLock::Status status = CardLock::Status::Failed;
    QString why;
    std::optional<CardLock> first = CardLock::acquire(inGroup, &status, &why, own->gr_name);
    std::optional<CardLock> other = CardLock::acquire(forAll, &status, &why, "no-such-group-of-kalvor");
    ::umask(old);
    ASSERT_TRUE(first && other) << why.toStdString();
    EXPECT_EQ(statOf(inGroup).st_mode & 07777, mode_t(0660));
    EXPECT_EQ(statOf(inGroup).st_gid, ::getegid());
    EXPECT_EQ(statOf(forAll).st_mode & 07777, mode_t(0644));

    EXPECT_FALSE(CardLock::acquire(inGroup, &status, &why, own->gr_name));
    EXPECT_EQ(status, CardLock::Status::Busy);
    first.reset();
    EXPECT_TRUE(CardLock::acquire(inGroup, &status, &why, own->gr_name)) << why.toStdString();
}

TEST(CardLock, AHolderThatCannotBeNamedIsSaidToBeOne)
{
    // A program other than KALVOR holds the lock: an flock without the
    // record lock that names a KALVOR holder (as one in another container
    // shows, whose process id the kernel does not give).
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kalvor.lock"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    CardLock::Status status = CardLock::Status::Acquired;
    QString why;
    EXPECT_FALSE(CardLock::acquire(path, &status, &why));
    ::close(fd);
    EXPECT_EQ(status, CardLock::Status::Busy);
    EXPECT_TRUE(why.contains(QStringLiteral("held by a process that cannot be named"))) << why.toStdString();
    EXPECT_TRUE(why.contains(path)) << why.toStdString();
}

TEST(CardLock, SymbolicLinkIsNeverFollowed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString path = dir.filePath(QStringLiteral("kalvor.lock"));
    ASSERT_TRUE(QFile::link(target, path));
    CardLock::Status status = CardLock::Status::Acquired;
    QString why;
    EXPECT_FALSE(CardLock::acquire(path, &status, &why));
    EXPECT_EQ(status, CardLock::Status::Failed);
    EXPECT_TRUE(why.contains(QStringLiteral("symbolic link"))) << why.toStdString();
    EXPECT_FALSE(QFile::exists(target));
}
