// kalvor-batch: reads radiochromic film dosimeters in batches through the
// running KALVOR program, stores every record in a tamper-evident store, and
// exports and verifies it. The window needs a display; export and verify do not.
#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "batchwin/BatchProgram.h"
#include "batchwin/QcReportPdf.h"
#include "batch/QcCommands.h"
#include "core/MessageSink.h"
#include "core/PrintableText.h"
#include "ui/BoxMessageSink.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

using namespace kalvor;
using namespace kalvor::batch;

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const Subcommand* command = findSubcommand(arguments.value(1))) {
        if (command->run == runQc) {
            // The report's charts and fonts need a QApplication; the offscreen
            // platform gives one without touching any display.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            setQcPdfWriter(batchwin::writeQcPdf);
            QTextStream out(stdout);
            QTextStream err(stderr);
            QStringList rest = arguments.mid(2);
            rest.prepend(arguments.value(0));
            return command->run(rest, out, err);
        }
        QCoreApplication app(argc, argv);
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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kalvor-batch"));
    QApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(KALVOR_DESKTOP_ID));
    BoxMessageSink boxes;
    setMessageSink(&boxes);
    const int status = batchwin::runBatchWindow(cl);
    setMessageSink(nullptr);
    return status;
}
