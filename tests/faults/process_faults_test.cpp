// The running program and its place on the machine: a crash leaves a stale
// socket that the next start replaces, a second copy stays out of the first
// one's way, and whatever else sits at the socket path is never removed.
#include "faults/FaultSupport.h"

#include "app/ProgramEnd.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

bool isSocket(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QString stored(const QString& confPath, const char* key)
{
    return QSettings(confPath, QSettings::IniFormat)
        .value(QStringLiteral("Properties/") + QLatin1String(key), QStringLiteral("<absent>"))
        .toString();
}

class ProcessFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
    }
};

TEST_F(ProcessFaults, KilledProgramLeavesItsSettingsAndTheNextStartReplacesTheSocket)
{
    Sandbox box(kPort768 + "Display=Secondary\nScreenLeft=1440\nScreenTop=720\nGainSN1500=1.9\n");
    ASSERT_TRUE(box.isValid());
    {
        Child first(box, "kalvor", {"--simulate"}, "first");
        ASSERT_TRUE(waitServing(first, box.socketPath())) << first.standardError().toStdString();
        LineClient c;
        ASSERT_TRUE(c.open(box.socketPath()));
        ASSERT_TRUE(subscribeAndWaitReading(c)) << first.standardError().toStdString();
        const QByteArray settingsBefore = box.settingsText();
        first.killNow();
        ASSERT_TRUE(first.diedFromSignal());
        EXPECT_EQ(text(box.settingsText()), text(settingsBefore));
    }
    ASSERT_TRUE(isSocket(box.socketPath())) << "a killed program leaves its socket behind";
    EXPECT_EQ(stored(box.confPath(), "Port"), QStringLiteral("768"));
    EXPECT_EQ(stored(box.confPath(), "Display"), QStringLiteral("Secondary"));
    EXPECT_EQ(stored(box.confPath(), "GainSN1500"), QStringLiteral("1.9"));

    Child second(box, "kalvor", {"--simulate"}, "second");
    ASSERT_TRUE(waitServing(second, box.socketPath())) << second.standardError().toStdString();
    LineClient c;
    ASSERT_TRUE(c.open(box.socketPath()));
    // The stored wavelength choice and port were read back: 600 nm, readings at 0x300.
    const std::optional<QByteArray> wl = c.ask("GET data WL", "VALUE ");
    ASSERT_TRUE(wl && ItemLine::parse(*wl));
    EXPECT_EQ(text(ItemLine::parse(*wl)->text()), "600 nm");
    EXPECT_TRUE(subscribeAndWaitReading(c)) << second.standardError().toStdString();

    EXPECT_EQ(second.terminate(), std::optional<int>(exitcode::Ok)) << second.standardError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(box.socketPath())) << "the orderly end removes the socket";
    EXPECT_EQ(stored(box.confPath(), "Port"), QStringLiteral("768"));
    EXPECT_EQ(stored(box.confPath(), "Display"), QStringLiteral("Secondary"));
    EXPECT_EQ(stored(box.confPath(), "GainSN1500"), QStringLiteral("1.9"));
    EXPECT_NE(stored(box.confPath(), "ScreenLeft"), QStringLiteral("<absent>"));
    EXPECT_NE(stored(box.confPath(), "ScreenTop"), QStringLiteral("<absent>"));
}

TEST_F(ProcessFaults, SecondCopyExitsThreeAndTheFirstKeepsServing)
{
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    Child first(box, "kalvor", {"--simulate"}, "first");
    ASSERT_TRUE(waitServing(first, box.socketPath())) << first.standardError().toStdString();
    const ino_t socketInode = inodeOf(box.socketPath());
    ASSERT_NE(socketInode, ino_t(0));

    // With a window and in check mode alike.
    const QList<QStringList> second{{"--simulate"}, {"--simulate", "--check"}};
    for (const QStringList& args : second) {
        Child copy(box, "kalvor", args, "second");
        EXPECT_EQ(copy.waitExit(5000), std::optional<int>(exitcode::AlreadyRunning))
            << args.join(' ').toStdString() << ": " << copy.standardError().toStdString();
        EXPECT_TRUE(copy.standardError().contains("already running")) << copy.standardError().toStdString();
        EXPECT_TRUE(copy.standardOutput().isEmpty()) << copy.standardOutput().toStdString();
    }

    EXPECT_EQ(inodeOf(box.socketPath()), socketInode);
    ASSERT_TRUE(first.running());
    LineClient c;
    ASSERT_EQ(text(c.open(box.socketPath())), "HELLO LINK/1 KALVOR");
    const std::optional<QByteArray> value = c.ask("GET data A", "VALUE ");
    EXPECT_TRUE(value && ItemLine::parse(*value)) << text(value);
    EXPECT_TRUE(subscribeAndWaitReading(c));
    EXPECT_EQ(first.terminate(), std::optional<int>(exitcode::Ok)) << first.standardError().toStdString();
}

TEST_F(ProcessFaults, RegularFileAtTheSocketPathIsLeftAloneAndStartUpSaysWhy)
{
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    ASSERT_TRUE(QDir().mkdir(box.socketDir()));
    ASSERT_EQ(::chmod(QFile::encodeName(box.socketDir()).constData(), 0700), 0);
    const QByteArray content = "notes that happen to be called link.sock\n";
    {
        QFile f(box.socketPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QByteArray settingsBefore = box.settingsText();

    Child program(box, "kalvor", {"--simulate"}, "kalvor");
    const std::optional<int> status = program.waitExit(5000);
    const QByteArray err = program.standardError();
    EXPECT_EQ(status, std::optional<int>(exitcode::LinkFailed)) << err.toStdString();
    EXPECT_TRUE(err.contains(QFile::encodeName(box.socketPath()))) << err.toStdString();
    EXPECT_TRUE(err.contains("not a socket")) << err.toStdString();

    EXPECT_FALSE(isSocket(box.socketPath()));
    EXPECT_EQ(text(Sandbox::readAll(box.socketPath())), text(content));
    EXPECT_EQ(text(box.settingsText()), text(settingsBefore));
}

} // namespace
