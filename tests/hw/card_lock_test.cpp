// The card lock: readable for every user whatever the umask, one holder at a
// time, and never taken through a symbolic link.
#include "hw/CardLock.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kalvor;

TEST(CardLock, MadeReadableForAllOneHolderAtATime)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kalvor.lock"));
    const mode_t old = ::umask(0277);
    CardLock::Status status = CardLock::Status::Failed;
    QString why;
    std::optional<CardLock> first = CardLock::acquire(path, &status, &why);
    ::umask(old);
    ASSERT_TRUE(first) << why.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0644));

    EXPECT_FALSE(CardLock::acquire(path, &status, &why));
    EXPECT_EQ(status, CardLock::Status::Busy);
    first.reset();
    EXPECT_TRUE(CardLock::acquire(path, &status, &why)) << why.toStdString();
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
