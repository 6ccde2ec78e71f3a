// kalvor-batch: reads radiochromic film dosimeters in batches through the
// running KALVOR program, stores every record in a tamper-evident store, and
// exports, reports and verifies it. The window needs a display; the commands
// do not: the report, which draws a PDF, runs on Qt's offscreen platform.
#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "batchwin/BatchProgram.h"
#include "batchwin/QcReportPdf.h"
#include "batch/QcCommands.h"
#include "core/MessageSink.h"
#include "core/PrintableText.h"
#include "report/ReportCommand.h"
#include "core/StandardStreams.h"
#include "ui/BoxMessageSink.h"
#include "ui/DisplayCheck.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <memory>

using namespace kalvor;
using namespace kalvor::batch;

int main(int argc, char** argv)
{
    reopenClosedStandardStreams();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    addSubcommand(report::reportCommand());
    if (const Subcommand* command = findSubcommand(arguments.value(1))) {
        // A command that draws (a PDF report, a chart) gets a QApplication on
        // the offscreen platform, given as its only argument so that nothing
        // of the command's own arguments is read as a Qt option; the others a
        // QCoreApplication. Neither asks for a display.
        int qtArgc = 3;
        char platform[] = "-platform";
        char offscreen[] = "offscreen";
        char* qtArgv[] = {argv[0], platform, offscreen, nullptr};
        std::unique_ptr<QCoreApplication> app;
        if (command->draws || command->run == runQc) {
            app = std::make_unique<QApplication>(qtArgc, qtArgv);
            setQcPdfWriter(batchwin::writeQcPdf);
        } else {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        QCoreApplication::setApplicationName(QStringLiteral("kalvor-batch"));
        QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));
        QTextStream out(stdout);
        QTextStream err(stderr);
        QStringList rest = arguments.mid(2);
        rest.prepend(arguments.value(0));
        return command->run(rest, out, err);
    }
    const CommandLine cl = parseCommandLine(arguments);

    if (cl.mode != CommandLine::Mode::Window) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("kalvor-batch"));
        QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));
        QTextStream out(stdout);
        QTextStream err(stderr);
        switch (cl.mode) {
        case CommandLine::Mode::Error:
            err << "kalvor-batch: " << terminalText(cl.error) << "\nTry kalvor-batch --help." << Qt::endl;
            return exitcode::Usage;
        case CommandLine::Mode::Help:
            out << helpText();
            return exitcode::Ok;
        case CommandLine::Mode::Version:
            out << "kalvor-batch " << KALVOR_VERSION << Qt::endl;
            return exitcode::Ok;
        case CommandLine::Mode::Export:
            return runExport(cl, out, err);
        case CommandLine::Mode::Verify:
            return runVerify(cl, out, err);
        case CommandLine::Mode::Window:
            break;
        }
    }

    const QString noDisplayHint =
        QStringLiteral("Start kalvor-batch in the desktop session; export and verify need no display.");
    if (const std::optional<QString> why = missingDisplay(argc, argv)) {
        std::fprintf(stderr, "%s\n", qPrintable(noDisplayReport("kalvor-batch", *why, noDisplayHint)));
        return exitcode::NoDisplay;
    }
    std::optional<DisplayGuard> guard(std::in_place, "kalvor-batch", exitcode::NoDisplay, noDisplayHint);
    QApplication app(argc, argv);
    guard.reset();
    QApplication::setApplicationName(QStringLiteral("kalvor-batch"));
    QApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(KALVOR_DESKTOP_ID));
    BoxMessageSink boxes;
    setMessageSink(&boxes);
    const int status = batchwin::runBatchWindow(cl);
    setMessageSink(nullptr);
    return status;
}
