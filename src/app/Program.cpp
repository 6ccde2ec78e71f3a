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
#include "core/UnixSignals.h"
#include "link/LinkPaths.h"
#include "link/LinkServer.h"
#include "app/SimulatorTopic.h"
#include "app/WindowWiring.h"
#include "app/SettingsAtEnd.h"
#include "hw/CardLock.h"

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

int runProgram(const StartOptions& o, bool gui)
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

    // The same across users and runtime folders, for the card on the bus.
    std::optional<CardLock> cardLock;
    if (!o.simulate) {
        CardLock::Status cardStatus = CardLock::Status::Failed;
        cardLock = CardLock::acquire(CardLock::path(), &cardStatus, &why);
        if (!cardLock) {
            if (cardStatus == CardLock::Status::Busy) {
                report(QStringLiteral("KALVOR cannot start: %1. Only one program can drive the card of a PC; "
                                      "use the one that runs (kalvor-link, run as its user, reads its values).")
                           .arg(why),
                       gui);
                return exitcode::AlreadyRunning;
            }
            report(QStringLiteral("KALVOR cannot start: %1").arg(why), gui);
            return exitcode::NoPortAccess;
        }
    }

    // Port access comes before any window or setting.
    int portStatus = exitcode::NoPortAccess;
    std::unique_ptr<PortStack> ports =
        PortStack::create(o.simulate ? &o.simulateText : nullptr, o.portTrace, &why, &portStatus);
    if (!ports) {
        report(why, gui);
        return portStatus;
    }
    addEndProgramStep([&ports] { ports->flush(); });

    // A simulated session keeps its own values, away from the card's.
    const SettingsStore::Session session =
        o.simulate ? SettingsStore::Session::Simulated : SettingsStore::Session::Card;

    if (o.check) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        try {
            SettingsStore settings(session);
            const int status = runCheck(ports->io(), settings, o.checkAddress, out, err);
            ports->flush();
            return status != exitcode::Ok ? status : endFault();
        } catch (const SettingsError& e) {
            err << e.report() << '\n';
            return exitcode::BadSetting;
        }
    }

    std::unique_ptr<SettingsStore> store;
    try {
        store = std::make_unique<SettingsStore>(session);
    } catch (const SettingsError& e) {
        report(e.report(), gui);
        return exitcode::BadSetting;
    }
    SettingsStore& settings = *store;

    QApplication::setWindowIcon(programIcon());
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
    if (ports->simulator()) {
        topics << new SimulatorTopic(*ports->simulator(), &topicOwner);
        // A simulation faster than life (tests) runs the reading cycle as fast.
        if (const double speed = ports->simulator()->speed(); speed > 1.0) {
            reader.tmrRead.setInterval(int(600 / speed));
            reader.tmrDelayZero.setInterval(int(500 / speed));
        }
    }

    LinkServer server(topics);
    if (!server.listen(LinkPaths::socketPath(), &why)) {
        report(QStringLiteral("KALVOR cannot serve its readings to other programs: %1").arg(why), gui);
        return exitcode::LinkFailed;
    }
    addEndProgramStep([&server] { server.close(); });
    addEndProgramStep([&settings] { storeSettingsAtEnd(settings); });

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
