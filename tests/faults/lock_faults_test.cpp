// The locks that keep one program to a card and one copy to a user, against
// a second copy of another user or runtime folder, an odd umask, and files
// planted by someone else.
#include "faults/FaultSupport.h"

#include "app/ProgramEnd.h"
#include "hw/CardLock.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class LockFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
    }
    QString lockFile() const { return box.socketDir() + QStringLiteral("/link.lock"); }
    Sandbox box;
};

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(LockFaults, SecondProgramOnTheCardIsRefusedWhoeverAndWhereverItRuns)
{
    // This test plays the first program: it holds the card lock.
    const QString cardLock = box.dir() + QStringLiteral("/card.lock");
    CardLock::Status status = CardLock::Status::Failed;
    QString why;
    std::optional<CardLock> held = CardLock::acquire(cardLock, &status, &why);
    ASSERT_TRUE(held) << why.toStdString();
    const ChildSetup fakeLock{[&cardLock](QProcessEnvironment& env) {
                                  env.insert(QStringLiteral("KALVOR_CARD_LOCK"), cardLock);
                              },
                              {}};
    const passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    const QByteArray holder = "process " + QByteArray::number(::getpid()) + " of user " + me->pw_name;

    const QString trace = box.dir() + QStringLiteral("/ports.trace");
    for (const QStringList& mode : {QStringList{}, QStringList{"--check"}}) {
        SCOPED_TRACE(mode.join(' ').toStdString());
        Child second(box, "kalvor", QStringList{"--port-trace=" + trace} + mode, "second", fakeLock);
        EXPECT_EQ(second.waitExit(5000), std::optional<int>(exitcode::AlreadyRunning)) << text(second.standardError());
        EXPECT_TRUE(second.standardError().contains(holder)) << text(second.standardError());
        EXPECT_FALSE(QFileInfo::exists(trace)) << "a port was reached";
    }

    // The simulated reader has no card to share.
    Child simulated(box, "kalvor", {"--simulate"}, "simulated", fakeLock);
    EXPECT_TRUE(waitServing(simulated, box.socketPath())) << text(simulated.standardError());
    EXPECT_EQ(simulated.terminate(), std::optional<int>(exitcode::Ok));
}

TEST_F(LockFaults, AUserOutsideTheGroupOfTheCardLockIsToldSoAndNeverReachesAPort)
{
    // The package's card lock is root:kalvor 0660; here the test plays it
    // with nobody:nogroup, and the program runs as root without the right to
    // override file permissions, so it is neither owner nor member.
    if (::geteuid() != 0 || !canDropFileOverrides())
        GTEST_SKIP() << "needs root, able to give up its file permission override";
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = nobody ? ::getgrgid(nobody->pw_gid) : nullptr;
    if (!nogroup || nobody->pw_gid == 0)
        GTEST_SKIP() << "no user nobody with a group of its own";
    const QString cardLock = box.dir() + QStringLiteral("/card.lock");
    const QByteArray lockPath = QFile::encodeName(cardLock);
    {
        QFile f(cardLock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(::chown(lockPath.constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(lockPath.constData(), 0660), 0);
    const QString trace = box.dir() + QStringLiteral("/ports.trace");
    Child outsider(box, "kalvor", {"--check", "--port-trace=" + trace}, "outsider",
                   {[&cardLock](QProcessEnvironment& env) { env.insert(QStringLiteral("KALVOR_CARD_LOCK"), cardLock); },
                    dropFileOverridesInChild});
    EXPECT_EQ(outsider.waitExit(5000), std::optional<int>(exitcode::NoPortAccess)) << text(outsider.standardError());
    const QByteArray err = outsider.standardError();
    EXPECT_TRUE(err.contains(QByteArray("only the members of group ") + nogroup->gr_name + " may use the card"))
        << text(err);
    EXPECT_FALSE(err.contains("sudo rm")) << "the lock is as it should be: " << text(err);
    EXPECT_FALSE(QFileInfo::exists(trace)) << "a port was reached";
}

TEST_F(LockFaults, LockFileMadeUnderAStrictUmaskDoesNotBreakLaterStarts)
{
    if (!canDropFileOverrides())
        GTEST_SKIP() << "root without the means to give up its file permission override";
    {
        Child strict(box, "kalvor", {"--simulate"}, "strict", {{}, [] {
                                                                    ::umask(0277);
                                                                    dropFileOverridesInChild();
                                                                }});
        ASSERT_TRUE(waitServing(strict, box.socketPath())) << text(strict.standardError());
        EXPECT_EQ(modeOf(lockFile()), mode_t(0600));
        EXPECT_EQ(strict.terminate(), std::optional<int>(exitcode::Ok));
    }
    Child next(box, "kalvor", {"--simulate"}, "next", {{}, dropFileOverridesInChild});
    EXPECT_TRUE(waitServing(next, box.socketPath())) << text(next.standardError());
    EXPECT_EQ(next.terminate(), std::optional<int>(exitcode::Ok));
}

TEST_F(LockFaults, HardLinkedLockFileIsRefusedNotTruncated)
{
    ASSERT_TRUE(QDir().mkdir(box.socketDir()));
    ASSERT_EQ(::chmod(QFile::encodeName(box.socketDir()).constData(), 0700), 0);
    const QString precious = box.socketDir() + QStringLiteral("/notes.txt");
    const QByteArray content = "measurements of Tuesday\n";
    {
        QFile f(precious);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    ASSERT_EQ(::link(QFile::encodeName(precious).constData(), QFile::encodeName(lockFile()).constData()), 0);

    Child program(box, "kalvor", {"--simulate"}, "kalvor");
    EXPECT_EQ(program.waitExit(5000), std::optional<int>(exitcode::LinkFailed)) << text(program.standardError());
    EXPECT_TRUE(program.standardError().contains("hard links")) << text(program.standardError());
    EXPECT_EQ(text(Sandbox::readAll(precious)), text(content));
}

TEST_F(LockFaults, RuntimeFolderOfAnotherUserIsNamedWithItsOwnerAndLeftAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can plant a folder of another user";
    const passwd* other = ::getpwnam("nobody");
    if (!other)
        GTEST_SKIP() << "no user nobody";
    ASSERT_TRUE(QDir().mkdir(box.socketDir()));
    const QByteArray dir = QFile::encodeName(box.socketDir());
    ASSERT_EQ(::chmod(dir.constData(), 0700), 0);
    ASSERT_EQ(::chown(dir.constData(), other->pw_uid, other->pw_gid), 0);

    Child program(box, "kalvor", {"--simulate"}, "kalvor");
    EXPECT_EQ(program.waitExit(5000), std::optional<int>(exitcode::LinkFailed)) << text(program.standardError());
    const QByteArray err = program.standardError();
    EXPECT_TRUE(err.contains("belongs to user nobody")) << text(err);
    EXPECT_TRUE(err.contains("rm -r " + dir)) << text(err);
    EXPECT_TRUE(QDir(box.socketDir()).isEmpty());
    EXPECT_EQ(modeOf(box.socketDir()), mode_t(0700));
}

} // namespace
