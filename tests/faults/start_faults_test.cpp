// Starts that must stop with a clear word and touch nothing: a command line
// read without a display, a window program started without one, a check address outside the card's range, a stored
// gain that is no gain, a settings file that cannot be read; and a reading
// that is no number, which ends the program in order.
#include "faults/FaultSupport.h"

#include "app/ProgramEnd.h"
#include "batch/CommandLine.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class StartFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
    }
    QString trace() const { return box.dir() + QStringLiteral("/ports.trace"); }
    Sandbox box;
};

TEST_F(StartFaults, CommandLineIsReadWithoutAnyDisplay)
{
    const ChildSetup noDisplay{[](QProcessEnvironment& env) {
                                   for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                                       env.remove(QLatin1String(name));
                               },
                               {}};
    Child bogus(box, "kalvor", {"--bogus"}, "bogus", noDisplay);
    EXPECT_EQ(bogus.waitExit(5000), std::optional<int>(exitcode::Usage)) << text(bogus.standardError());
    EXPECT_TRUE(bogus.standardError().contains("Usage: kalvor [options]\n")) << text(bogus.standardError());

    Child help(box, "kalvor", {"--help-all"}, "help", noDisplay);
    EXPECT_EQ(help.waitExit(5000), std::optional<int>(exitcode::Ok)) << text(help.standardError());
    EXPECT_TRUE(help.standardOutput().startsWith("Usage: kalvor [options]\n")) << text(help.standardOutput());
}

TEST_F(StartFaults, WithoutADisplayTheWindowProgramsSaySoAndEndWithTheirStatus)
{
    if (!isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor-batch is not built in " KALVOR_BIN_DIR;
    const auto noDisplay = [](const char* display) {
        return ChildSetup{[display](QProcessEnvironment& env) {
                              for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                                  env.remove(QLatin1String(name));
                              if (display)
                                  env.insert(QStringLiteral("DISPLAY"), QLatin1String(display));
                          },
                          {}};
    };
    // None at all (ssh without X forwarding), and one named that no X server
    // serves (Qt's platform plugin gives up).
    for (const char* display : {static_cast<const char*>(nullptr), ":97"}) {
        SCOPED_TRACE(display ? display : "no DISPLAY");
        Child kalvor(box, "kalvor", {"--simulate"}, "kalvor", noDisplay(display));
        EXPECT_EQ(kalvor.waitExit(10000), std::optional<int>(exitcode::NoDisplay)) << text(kalvor.standardError());
        EXPECT_TRUE(kalvor.standardError().contains("kalvor: cannot open a window: ")) << text(kalvor.standardError());
        Child batch(box, "kalvor-batch", {}, "batch", noDisplay(display));
        EXPECT_EQ(batch.waitExit(10000), std::optional<int>(batch::exitcode::NoDisplay)) << text(batch.standardError());
        EXPECT_TRUE(batch.standardError().contains("export and verify need no display")) << text(batch.standardError());
    }
    // What needs no window never asks for a display.
    Child verify(box, "kalvor-batch", {"verify", "--store", box.dir() + QStringLiteral("/records.sqlite")}, "verify",
                 noDisplay(":97"));
    const std::optional<int> status = verify.waitExit(10000);
    ASSERT_TRUE(status) << text(verify.standardError());
    EXPECT_NE(*status, batch::exitcode::NoDisplay) << text(verify.standardError());
    Child check(box, "kalvor", {"--simulate", "--check"}, "check", noDisplay(nullptr));
    EXPECT_EQ(check.waitExit(10000), std::optional<int>(exitcode::Ok)) << text(check.standardError());
}

TEST_F(StartFaults, CheckAddressOutsideTheCardRangeIsAUsageErrorBeforeAnyPort)
{
    for (const char* address : {"5000", "F8", "3E8", "x"}) {
        SCOPED_TRACE(address);
        Child check(box, "kalvor",
                    {"--simulate", "--port-trace=" + trace(), QStringLiteral("--check=") + QLatin1String(address)},
                    "check");
        EXPECT_EQ(check.waitExit(5000), std::optional<int>(exitcode::Usage)) << text(check.standardError());
        EXPECT_TRUE(readTrace(trace()).empty());
        EXPECT_TRUE(check.standardOutput().isEmpty());
    }
}

TEST_F(StartFaults, StoredGainThatIsNoGainStopsTheStartAndIsKept)
{
    for (const QByteArray gain : {"abc", "-1.9", "1e-320", "inf"}) {
        for (const QStringList& mode : {QStringList{}, QStringList{"--check"}}) {
            SCOPED_TRACE(gain.toStdString() + " " + mode.join(' ').toStdString());
            const QByteArray settings = kPort768 + "GainSN1500=" + gain + "\n";
            box.writeSettings(settings);
            Child program(box, "kalvor", QStringList{"--simulate"} + mode, "kalvor");
            EXPECT_EQ(program.waitExit(10000), std::optional<int>(exitcode::BadSetting))
                << text(program.standardError());
            EXPECT_TRUE(program.standardError().contains("\"GainSN1500\" holds \"" + gain + "\""))
                << text(program.standardError());
            EXPECT_TRUE(program.standardError().contains(QFile::encodeName(box.confPath())));
            EXPECT_EQ(text(box.settingsText()), text(settings));
        }
    }
}

TEST_F(StartFaults, ValueWithANulIsReportedEscapedAndWhole)
{
    box.writeSettings("[Properties]\nPort=768\\0x\n");
    Child program(box, "kalvor", {"--simulate", "--check"}, "kalvor");
    EXPECT_EQ(program.waitExit(5000), std::optional<int>(exitcode::BadSetting));
    const QByteArray err = program.standardError();
    EXPECT_TRUE(err.contains("\"768\\x00x\"")) << text(err);
    EXPECT_TRUE(err.contains(QFile::encodeName(box.confPath()))) << text(err);
    EXPECT_FALSE(err.contains('\0'));
}

TEST_F(StartFaults, UnreadableSettingsFileStopsTheStartUntouched)
{
    struct Case {
        const char* what;
        bool systemWide;
        std::function<bool(const QString&)> make;
    };
    auto fifo = [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; };
    const Case cases[] = {
        {"mode 000", false,
         [](const QString& p) {
             return canDropFileOverrides() && ::chmod(QFile::encodeName(p).constData(), 0) == 0;
         }},
        {"folder", false, [](const QString& p) { return QFile::remove(p) && QDir().mkdir(p); }},
        {"FIFO", false, [fifo](const QString& p) { return QFile::remove(p) && fifo(p); }},
        {"link to /dev/zero", false,
         [](const QString& p) { return QFile::remove(p) && QFile::link(QStringLiteral("/dev/zero"), p); }},
        {"system-wide FIFO", true,
         [fifo](const QString& p) { return QDir().mkpath(QFileInfo(p).path()) && fifo(p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox fresh;
        const QString path = c.systemWide ? fresh.systemConfPath() : fresh.confPath();
        if (!c.make(path)) {
            ADD_FAILURE() << "cannot set up " << c.what;
            continue;
        }
        struct stat before {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &before), 0);
        for (const QStringList& mode : {QStringList{}, QStringList{"--check"}}) {
            Child program(fresh, "kalvor", QStringList{"--simulate"} + mode, "kalvor",
                          {{}, dropFileOverridesInChild});
            EXPECT_EQ(program.waitExit(5000), std::optional<int>(exitcode::BadSetting))
                << text(program.standardError());
            EXPECT_TRUE(program.standardError().contains(QFile::encodeName(path) + " cannot be read"))
                << text(program.standardError());
        }
        struct stat after {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    }
}

TEST_F(StartFaults, ReadingThatIsNoNumberEndsTheProgramInOrder)
{
    // A gain so small (yet a normal number) that 4.56 V divided by it, the
    // first reading (the zero), is infinite.
    box.writeSettings(kPort768 + "GainSN1500=2.5e-308\n");
    Child program(box, "kalvor", {"--simulate=lamp=2", "--port-trace=" + trace()}, "kalvor");
    const std::optional<int> status = program.waitExit(10000);
    const QByteArray err = program.standardError();
    ASSERT_EQ(status, std::optional<int>(exitcode::ReadingNotFinite)) << text(err);
    EXPECT_TRUE(err.contains("\"GainSN1500\"")) << text(err);
    // Control register cleared last, position and gain stored.
    const std::vector<TraceLine> lines = readTrace(trace());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().kind, 'W');
    EXPECT_EQ(lines.back().port, 0x303u);
    EXPECT_EQ(lines.back().value, 0u);
    QSettings stored(box.confPath(), QSettings::IniFormat);
    EXPECT_TRUE(stored.contains(QStringLiteral("Simulated/ScreenLeft"))) << text(box.settingsText());
    EXPECT_EQ(stored.value(QStringLiteral("Properties/GainSN1500")).toString(), QStringLiteral("2.5e-308"));
}

} // namespace
