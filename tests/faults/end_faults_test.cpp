// Faults that used to end the program silently or lose data without a word:
// a reader of standard error or of the port trace that goes away, a trace
// that cannot be written, a settings folder that cannot be written.
#include "faults/FaultSupport.h"

#include "app/ProgramEnd.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class EndFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
    }
    // Stored by the simulated session, in its own section.
    bool stored(const char* key) const
    {
        return QSettings(box.confPath(), QSettings::IniFormat).contains(QStringLiteral("Simulated/") + QLatin1String(key));
    }
    Sandbox box;
};

TEST_F(EndFaults, ClosedStandardErrorPipeNeitherKillsNorStopsTheOrderlyEnd)
{
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const int writeEnd = pipe[1];
    // A dosimeter in the reader: the zero writes its caution to standard error.
    Child program(box, "kalvor", {"--simulate=dosimeter=0.5"}, "kalvor", {{}, [writeEnd] { ::dup2(writeEnd, 2); }});
    ::close(pipe[0]);
    ::close(pipe[1]);
    ASSERT_TRUE(waitServing(program, box.socketPath()));
    LineClient c;
    ASSERT_TRUE(c.open(box.socketPath()));
    ASSERT_TRUE(subscribeAndWaitReading(c));
    // A flood of requests that nobody reads the answers of.
    LineClient flood;
    ASSERT_TRUE(flood.open(box.socketPath()));
    for (int i = 0; i < 2000 && flood.sendLine("GET data A"); ++i) {
    }
    flood.close();
    EXPECT_TRUE(nextUpdate(c, 3000));
    ASSERT_TRUE(program.running());
    EXPECT_EQ(program.terminate(), std::optional<int>(exitcode::Ok));
    EXPECT_TRUE(stored("ScreenLeft")) << text(box.settingsText());
    EXPECT_FALSE(QFileInfo::exists(box.socketPath()));
}

TEST_F(EndFaults, PortTraceFifoWhoseReaderLeftIsReportedOnceAndTheProgramGoesOn)
{
    const QString fifo = box.dir() + QStringLiteral("/trace.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    Child program(box, "kalvor", {"--simulate", "--port-trace=" + fifo}, "kalvor");
    pollfd p{reader, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 10000), 1) << "no trace came";
    ::close(reader);
    ASSERT_TRUE(waitServing(program, box.socketPath())) << text(program.standardError());
    LineClient c;
    ASSERT_TRUE(c.open(box.socketPath()));
    ASSERT_TRUE(subscribeAndWaitReading(c)) << text(program.standardError());
    EXPECT_TRUE(nextUpdate(c, 3000));
    EXPECT_EQ(program.terminate(), std::optional<int>(exitcode::TraceIncomplete)) << text(program.standardError());
    EXPECT_EQ(program.standardError().count("port trace"), 1) << text(program.standardError());
    EXPECT_TRUE(stored("ScreenLeft")) << text(box.settingsText());
}

TEST_F(EndFaults, PortTraceOnAFullDiskEndsWithItsOwnStatus)
{
    Child check(box, "kalvor", {"--simulate", "--check", "--port-trace=/dev/full"}, "check");
    EXPECT_EQ(check.waitExit(5000), std::optional<int>(exitcode::TraceIncomplete)) << text(check.standardError());
    EXPECT_TRUE(check.standardOutput().startsWith("KALVOR 1500")) << text(check.standardOutput());
    EXPECT_EQ(check.standardError().count("/dev/full could not be written completely"), 1)
        << text(check.standardError());
}

TEST_F(EndFaults, ReadOnlySettingsFolderNamesTheLostValuesAndKeepsTheFile)
{
    if (!canDropFileOverrides())
        GTEST_SKIP() << "root without the means to give up its file permission override";
    const QByteArray folder = QFile::encodeName(QFileInfo(box.confPath()).absolutePath());
    ASSERT_EQ(::chmod(folder.constData(), 0500), 0);
    Child program(box, "kalvor", {"--simulate"}, "kalvor", {{}, dropFileOverridesInChild});
    const bool serving = waitServing(program, box.socketPath());
    LineClient c;
    const bool reading = serving && c.open(box.socketPath()) && subscribeAndWaitReading(c);
    const std::optional<int> status = program.terminate();
    ::chmod(folder.constData(), 0700);
    ASSERT_TRUE(reading) << text(program.standardError());

    const QByteArray err = program.standardError();
    EXPECT_EQ(status, std::optional<int>(exitcode::SettingsNotStored)) << text(err);
    EXPECT_TRUE(err.contains("could not store its settings in " + QFile::encodeName(box.confPath()))) << text(err);
    EXPECT_TRUE(err.contains("read-only")) << text(err);
    for (const char* value :
         {"Display=Primary", "GainSN1500=1.9", "ScreenLeft=", "ScreenTop=", "ZeroSN1500WL510="})
        EXPECT_TRUE(err.contains(value)) << value << " in " << text(err);
    EXPECT_FALSE(err.contains("Port=")) << "Port was not changed: " << text(err);
    EXPECT_EQ(text(box.settingsText()), text(kPort768));
}

} // namespace
