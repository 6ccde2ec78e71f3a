// The installed kalvor carries the CAP_SYS_RAWIO file capability so that the
// members of group kalvor reach the card. The capability must be gone before
// Qt loads anything the caller's environment points at (QT_PLUGIN_PATH and
// the like), and a run that needs no card must not keep it at all.
#include "faults/FaultSupport.h"

#include "app/PrivilegedStart.h"

#include <QStandardPaths>
#include <gtest/gtest.h>
#include <pwd.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

QByteArray statusField(pid_t pid, const char* field)
{
    for (const QByteArray& line : Sandbox::readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed();
    return "<none>";
}

} // namespace

TEST(PrivilegedStart, OnlyTheCardPathOpensPortsAhead)
{
    const auto noCard = [](std::initializer_list<const char*> args) {
        std::vector<char*> argv{const_cast<char*>("kalvor")};
        for (const char* a : args)
            argv.push_back(const_cast<char*>(a));
        return needsNoCard(int(argv.size()), argv.data());
    };
    EXPECT_TRUE(noCard({"--simulate"}));
    EXPECT_TRUE(noCard({"--check", "--simulate=address=200"}));
    EXPECT_TRUE(noCard({"--version"}));
    EXPECT_TRUE(noCard({"-h"}));
    EXPECT_FALSE(noCard({}));
    EXPECT_FALSE(noCard({"--check=300"}));
    EXPECT_FALSE(noCard({"--port-trace", "--simulate.txt"}));
}

TEST(PrivilegedStart, ASimulatedRunWithTheFileCapabilityHoldsNoCapability)
{
    const QString setcap = QStandardPaths::findExecutable(QStringLiteral("setcap"), {"/usr/sbin", "/sbin"});
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || setcap.isEmpty() || setpriv.isEmpty() || !nobody || !isBuilt("kalvor"))
        GTEST_SKIP() << "needs root, setcap, setpriv, user nobody and a built kalvor";

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kcap-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.path() + QStringLiteral("/kalvor");
    ASSERT_TRUE(QFile::copy(binary("kalvor"), copy));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(copy).constData(), 0755);
    if (QProcess::execute(setcap, {QStringLiteral("cap_sys_rawio+ep"), copy}) != 0)
        GTEST_SKIP() << "this file system keeps no file capabilities";
    for (const char* sub : {"/config", "/runtime"}) {
        const QByteArray path = QFile::encodeName(dir.path() + QLatin1String(sub));
        ::mkdir(path.constData(), 0700);
        ASSERT_EQ(::chown(path.constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    QProcess program;
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path() + QStringLiteral("/runtime"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(setpriv, {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                            QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
                            copy, QStringLiteral("--simulate")});
    ASSERT_TRUE(program.waitForStarted(5000));
    const QString socket = dir.path() + QStringLiteral("/runtime/KALVOR/link.sock");
    QElapsedTimer t;
    t.start();
    LineClient probe;
    while (!probe.open(socket, 1000) && t.elapsed() < 15000 && program.state() == QProcess::Running)
        QThread::msleep(50);
    ASSERT_TRUE(probe.isOpen()) << program.readAll().toStdString();

    const pid_t pid = pid_t(program.processId());
    EXPECT_EQ(statusField(pid, "Uid:").split('\t').value(0).toUInt(), nobody->pw_uid);
    EXPECT_EQ(text(statusField(pid, "CapPrm:")), "0000000000000000");
    EXPECT_EQ(text(statusField(pid, "CapEff:")), "0000000000000000");
    program.terminate();
    EXPECT_TRUE(program.waitForFinished(5000));
}
