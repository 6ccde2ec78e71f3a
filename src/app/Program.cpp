#include "app/Program.h"

#include "ui/BoxMessageSink.h"
#include "app/CheckCommand.h"
#include "app/MainWindow.h"
#include "app/PortStack.h"
#include "app/ProgramEnd.h"
#include "app/Reader.h"
#include "app/ReaderTopic.h"
#include "core/SettingsStore.h"
#include "about/ProgramIcon.h"
#include "app/UnixSignals.h"
#include "link/LinkPaths.h"
#include "link/LinkServer.h"
#include "app/SimulatorTopic.h"
#include "app/WindowWiring.h"

#include <QApplication>
#include <QTextStream>
#include <cstdio>

namespace kalvor {

namespace {

void report(const QString& text, bool gui)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    if (gui && hasVisibleScreen())
        BoxMessageSink().showMessage(text);
}

} // namespace

int runProgram(const QString* simulate, const QString& portTrace, bool check, const QString& checkAddress, bool gui)
{
    // One program drives one card: a second copy touches neither the card,
    // the settings nor the first copy's link service.
    InstanceLock::Status lockStatus = InstanceLock::Status::Failed;
    QString why;
    std::optional<InstanceLock> lock = InstanceLock::acquire(&lockStatus, &why);
    if (!lock) {
        if (lockStatus == InstanceLock::Status::AlreadyRunning) {
            report(QStringLiteral("KALVOR is already running. Only one copy can drive the reader; "
                                  "use the window that is open, or kalvor-link to read its values."),
                   gui);
            return exitcode::AlreadyRunning;
        }
        report(QStringLiteral("KALVOR cannot start: %1").arg(why), gui);
        return exitcode::LinkFailed;
    }

    // Port access comes before any window or setting.
    std::unique_ptr<PortStack> ports = PortStack::create(simulate, portTrace, &why);
    if (!ports) {
        report(why, gui);
        return simulate ? exitcode::Usage : exitcode::NoPortAccess;
    }
    addEndProgramStep([&ports] { ports->flush(); });

    if (check) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        try {
            SettingsStore settings;
            const int status = runCheck(ports->io(), settings, checkAddress, out, err);
            ports->flush();
            return status;
        } catch (const SettingsError& e) {
            err << e.report() << '\n';
            return exitcode::BadSetting;
        }
    }

    QApplication::setWindowIcon(programIcon());
    SettingsStore settings;
    BoxMessageSink boxes;
    setMessageSink(&boxes);
    struct RestoreSink {
        ~RestoreSink() { setMessageSink(nullptr); }
    } restoreSink;

    // The topics go when runProgram returns, before the simulated card they read.
    QObject topicOwner;
    LinkTopic* data = createDataTopic(&topicOwner);
    Reader reader(ports->io(), settings, *data);
    QList<LinkTopic*> topics{data, new ReaderTopic(reader, &topicOwner)};
    if (ports->simulator())
        topics << new SimulatorTopic(*ports->simulator(), &topicOwner);

    LinkServer server(topics);
    if (!server.listen(LinkPaths::socketPath(), &why)) {
        report(QStringLiteral("KALVOR cannot serve its readings to other programs: %1").arg(why), gui);
        return exitcode::LinkFailed;
    }
    addEndProgramStep([&server] { server.close(); });
    addEndProgramStep([&settings] { settings.sync(); });

    frmKALVOR window(reader);
    reader.formUnload = [&window](int cancel) { window.Form_Unload(cancel); };
    WindowWiring windows(window);

    // Termination requests and the end of the desktop session take the road of
    // File > Exit once the program is up; during start-up nothing is stored.
    bool started = false;
    auto orderlyEnd = [&window, &started] {
        if (started)
            window.Form_Unload(0);
        endProgram(exitcode::Ok);
    };
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminationRequested, &window, orderlyEnd);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, orderlyEnd, Qt::DirectConnection);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, orderlyEnd, Qt::DirectConnection);

    try {
        window.Form_Load();
    } catch (const SettingsError& e) {
        report(e.report(), gui);
        endProgram(exitcode::BadSetting);
    }
    started = true;
    window.show();
    QApplication::exec();
    orderlyEnd();
    return exitcode::Ok;
}

} // namespace kalvor
