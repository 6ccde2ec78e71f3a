// A hand-edited "Port" setting that is no card address (0, 1, 32767, -5) or no
// number at all. Nothing outside the card's range 0x100..0x3E3 may reach the
// bus, and a value that is not a number is reported with key, value and file.
#include "faults/FaultSupport.h"

#include "app/MainWindow.h"
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "app/ProgramEnd.h"
#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "hw/SafePortIo.h"
#include "support/RecordingPort.h"
#include "support/TempSettings.h"

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

constexpr unsigned kFirst = 0x100;
constexpr unsigned kLast = 0x3E3;

// Every line of the trace parses and stays within the card's range.
::testing::AssertionResult traceInRange(const QString& path)
{
    if (!QFileInfo::exists(path))
        return ::testing::AssertionFailure() << "no trace file " << path.toStdString();
    const std::vector<TraceLine> lines = readTrace(path);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == '?')
            return ::testing::AssertionFailure() << "trace line " << i + 1 << " does not parse";
        if (lines[i].port < kFirst || lines[i].port > kLast)
            return ::testing::AssertionFailure()
                   << "trace line " << i + 1 << " reaches port 0x" << std::hex << lines[i].port;
    }
    return ::testing::AssertionSuccess();
}

struct CheckRun {
    std::unique_ptr<Sandbox> box;
    std::optional<int> status;
    QByteArray out, err;
    QString trace;
};

// The program with the given stored Port, a port trace and `mode` options.
CheckRun runWithPort(const QByteArray& port, const QStringList& mode)
{
    CheckRun r;
    r.box = std::make_unique<Sandbox>("[Properties]\nPort=" + port + "\n");
    r.trace = r.box->dir() + QStringLiteral("/ports.trace");
    Child program(*r.box, "kalvor", QStringList{"--simulate", "--port-trace=" + r.trace} + mode, "kalvor");
    r.status = program.waitExit(10000);
    r.out = program.standardOutput();
    r.err = program.standardError();
    return r;
}

class PortSettingFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
    }
};

TEST_F(PortSettingFaults, CheckModeWithANonCardPortTouchesNothingOutsideTheCard)
{
    // Port 0 is "none stored": the check tries the factory address 300.
    const CheckRun none = runWithPort("0", {"--check"});
    EXPECT_EQ(none.status, std::optional<int>(exitcode::Ok)) << none.err.toStdString();
    EXPECT_TRUE(none.out.contains(" at 300")) << none.out.toStdString();
    EXPECT_TRUE(traceInRange(none.trace));
    EXPECT_FALSE(readTrace(none.trace).empty());

    for (const QByteArray port : {"1", "32767", "-5"}) {
        SCOPED_TRACE("Port=" + port.toStdString());
        const CheckRun r = runWithPort(port, {"--check"});
        EXPECT_EQ(r.status, std::optional<int>(exitcode::HeadTestFailed)) << r.err.toStdString();
        EXPECT_TRUE(traceInRange(r.trace));
        // Every access of the head test was refused before the bus.
        EXPECT_TRUE(readTrace(r.trace).empty());
        EXPECT_TRUE(r.err.contains("refused a port")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(loadText(1005).toLocal8Bit())) << r.err.toStdString();
    }
}

TEST_F(PortSettingFaults, PortThatIsNoNumberIsReportedWithKeyValueAndFile)
{
    // "70000" is a number, but none that fits a port setting.
    for (const QByteArray port : {"abc", "70000"}) {
        for (const QStringList& mode : {QStringList{}, QStringList{"--check"}}) {
            SCOPED_TRACE("Port=" + port.toStdString() + " " + mode.join(' ').toStdString());
            const CheckRun r = runWithPort(port, mode);
            EXPECT_EQ(r.status, std::optional<int>(exitcode::BadSetting)) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains("\"Port\"")) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains("\"" + port + "\"")) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(QFile::encodeName(r.box->confPath()))) << r.err.toStdString();
            // Stopped before any port access, and nothing written.
            EXPECT_TRUE(traceInRange(r.trace));
            EXPECT_TRUE(readTrace(r.trace).empty());
            EXPECT_EQ(text(r.box->settingsText()), text("[Properties]\nPort=" + port + "\n"));
        }
    }
}

TEST_F(PortSettingFaults, WindowStartWithANonCardPortWaitsInThePortDialogAndEndsOnRequest)
{
    // The head test fails (or, for 0, no address is known) and the port dialog
    // waits for a user; a termination request ends the program from there,
    // with nothing stored and nothing outside the card touched.
    for (const QByteArray port : {"0", "1", "32767", "-5"}) {
        SCOPED_TRACE("Port=" + port.toStdString());
        const QByteArray settings = "[Properties]\nPort=" + port + "\n";
        Sandbox box(settings);
        const QString trace = box.dir() + QStringLiteral("/ports.trace");
        Child program(box, "kalvor", {"--simulate", "--port-trace=" + trace}, "kalvor");
        ASSERT_TRUE(waitServing(program, box.socketPath())) << program.standardError().toStdString();
        QElapsedTimer t;
        t.start();
        if (port != "0") {
            while (!program.standardError().contains(loadText(1005).toLocal8Bit()) && t.elapsed() < 5000)
                QThread::msleep(20);
            EXPECT_TRUE(program.standardError().contains("refused a port")) << program.standardError().toStdString();
        }
        QThread::msleep(300);
        ASSERT_TRUE(program.running()) << program.standardError().toStdString();
        EXPECT_EQ(program.terminate(), std::optional<int>(exitcode::Ok)) << program.standardError().toStdString();
        EXPECT_TRUE(traceInRange(trace));
        EXPECT_TRUE(readTrace(trace).empty());
        EXPECT_EQ(text(box.settingsText()), text(settings));
    }
}

// Start-up in this process, on a recording bus behind the range guard, with
// the port dialog closed without a change and endProgram throwing.
struct GuardedStart {
    test::TempSettings tmp;
    RecordingMessageSink messages;
    test::RecordingPort bus;
    SafePortIo safe{bus};
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<LinkTopic> data{createDataTopic(nullptr)};
    std::unique_ptr<Reader> reader;
    std::unique_ptr<frmKALVOR> window;
    int portDialogs = 0;

    explicit GuardedStart(const QByteArray& port)
    {
        tmp.writeFileText("[Properties]\nPort=" + port + "\n");
        settings = std::make_unique<SettingsStore>(tmp.filePath());
        reader = std::make_unique<Reader>(safe, *settings, *data);
        window = std::make_unique<frmKALVOR>(*reader);
        reader->formUnload = [this](int cancel) { window->Form_Unload(cancel); };
        window->showPortDialog = [this] { ++portDialogs; };
    }
    ~GuardedStart()
    {
        reader->tmrRead.stop();
        reader->tmrDelayZero.stop();
    }
    // The exit status Form_Load ended with; nothing when it returned.
    std::optional<int> load()
    {
        try {
            window->Form_Load();
        } catch (const ProgramEnded& e) {
            return e.status;
        }
        return std::nullopt;
    }
};

class GuardedStartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearEndProgramSteps();
        setEndProgramHandler([](int status) { throw ProgramEnded{status}; });
    }
    void TearDown() override
    {
        setEndProgramHandler({});
        clearEndProgramSteps();
    }
};

TEST_F(GuardedStartUp, NoPortAndNoAddressFromTheDialogEndsWithoutAnyAccess)
{
    GuardedStart s("0");
    EXPECT_EQ(s.load(), std::optional<int>(exitcode::NoAddress));
    EXPECT_EQ(s.portDialogs, 1);
    EXPECT_TRUE(s.bus.accesses().empty());
    EXPECT_EQ(s.safe.refusals(), 0u);
    EXPECT_EQ(s.messages.messages.size(), 1);
}

TEST_F(GuardedStartUp, PortOutsideTheCardRangeEndsWith1006AndNothingReachesTheBus)
{
    for (const QByteArray port : {"1", "32767", "-5"}) {
        SCOPED_TRACE("Port=" + port.toStdString());
        GuardedStart s(port);
        EXPECT_EQ(s.load(), std::optional<int>(exitcode::HeadTestFailed));
        EXPECT_EQ(s.portDialogs, 1);
        for (const test::PortAccess& a : s.bus.accesses())
            EXPECT_TRUE(a.port >= kFirst && a.port <= kLast) << a;
        EXPECT_TRUE(s.bus.accesses().empty());
        EXPECT_GT(s.safe.refusals(), 0u);
        ASSERT_FALSE(s.messages.messages.isEmpty());
        EXPECT_EQ(s.messages.messages.back(), loadText(1006));
        EXPECT_EQ(s.reader->state.base, std::int16_t(port.toInt()));
    }
}

} // namespace
