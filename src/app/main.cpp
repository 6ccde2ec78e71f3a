// KALVOR: reads a KALVOR radiochromic film reader through its BRENIK card,
// shows the absorbance and serves every reading to other programs.
#include "app/CommandLine.h"
#include "app/Program.h"
#include "app/ProgramEnd.h"
#include "app/PrivilegedStart.h"
#include "core/StandardStreams.h"
#include "ui/DisplayCheck.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <memory>

using namespace kalvor;

int main(int argc, char** argv)
{
    // Before the ports, the lock or any other file is opened.
    reopenClosedStandardStreams();

    QString privilegeWhy;
    if (!startPrivileged(argc, argv, &privilegeWhy)) {
        std::fprintf(stderr, "%s\n", privilegeWhy.toLocal8Bit().constData());
        return exitcode::NoPortAccess;
    }

    // A reader that went away (a closed standard-error pipe, a port trace
    // FIFO, a link client) makes that write fail, nothing more: the program
    // goes on, and its orderly end still runs. Likewise a file size limit
    // makes the port trace fail instead of killing the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // The command line is read before any window system is asked for, so
    // --help and usage errors work without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseCommandLine(args);
    switch (command.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fputs(command.text.toLocal8Bit().constData(), stdout);
        return exitcode::Ok;
    case CommandLine::Action::UsageError:
        std::fputs(command.text.toLocal8Bit().constData(), stderr);
        return exitcode::Usage;
    case CommandLine::Action::Run:
        break;
    }

    const bool gui = command.wantsWindow();
    const QString noDisplayHint = QStringLiteral(
        "Start KALVOR in the desktop session (or through ssh -X); kalvor --check tests card and head without a window.");
    std::unique_ptr<QCoreApplication> app;
    if (gui) {
        if (const std::optional<QString> why = missingDisplay(argc, argv)) {
            std::fprintf(stderr, "%s\n", noDisplayReport("kalvor", *why, noDisplayHint).toLocal8Bit().constData());
            return exitcode::NoDisplay;
        }
        DisplayGuard guard("kalvor", exitcode::NoDisplay, noDisplayHint);
        app = std::make_unique<QApplication>(argc, argv);
    } else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KALVOR"));
    if (gui)
        QGuiApplication::setDesktopFileName(QStringLiteral(KALVOR_DESKTOP_ID));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));

    return runProgram(command.options, gui);
}
