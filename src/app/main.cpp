// KALVOR: reads a KALVOR radiochromic film reader through its BRENIK card,
// shows the absorbance and serves every reading to other programs.
#include "ui/BoxMessageSink.h"
#include "app/CheckCommand.h"
#include "app/MainWindow.h"
#include "core/MessageSink.h"
#include "app/PortStack.h"
#include "app/ProgramEnd.h"
#include "app/Reader.h"
#include "core/SettingsStore.h"
#include "app/Program.h"
#include "app/PrivilegedStart.h"
#include "app/UnixSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

using namespace kalvor;

namespace {

struct Options {
    bool simulate = false;
    QString simulateText;
    QString portTrace;
    bool check = false;
    QString checkAddress;
};

// QCommandLineParser has no options with an optional value: "--simulate" and
// "--simulate=..." (likewise --check) are taken apart here first.
QStringList splitOptionalValues(const QStringList& args, Options& o)
{
    QStringList rest;
    for (const QString& a : args) {
        if (a == QLatin1String("--simulate") || a == QLatin1String("-simulate")) {
            o.simulate = true;
        } else if (a.startsWith(QLatin1String("--simulate="))) {
            o.simulate = true;
            o.simulateText = a.mid(int(qstrlen("--simulate=")));
        } else if (a == QLatin1String("--check")) {
            o.check = true;
        } else if (a.startsWith(QLatin1String("--check="))) {
            o.check = true;
            o.checkAddress = a.mid(int(qstrlen("--check=")));
        } else {
            rest << a;
        }
    }
    return rest;
}

bool wantsWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--check" || a.startsWith("--check=") || a == "--help" || a == "-h" || a == "--version" || a == "-v")
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QString privilegeWhy;
    if (!startPrivileged(argc, argv, &privilegeWhy)) {
        std::fprintf(stderr, "%s\n", privilegeWhy.toLocal8Bit().constData());
        return exitcode::NoPortAccess;
    }
    const bool gui = wantsWindow(argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (gui)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KALVOR"));
    if (gui)
        QGuiApplication::setDesktopFileName(QStringLiteral(KALVOR_DESKTOP_ID));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));

    Options o;
    const QStringList args = splitOptionalValues(QCoreApplication::arguments(), o);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "KALVOR reader for radiochromic film dosimeters: reads the absorbance through the BRENIK card,\n"
        "shows it and serves every reading to other programs (see kalvor-link)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Run on the simulated reader instead of the card; OPTIONS is KEY=VALUE,... "
                                     "(address=HEX, identity=TEXT, dosimeter=A|none, holder=film|filter, "
                                     "filter=none|light|medium|dark, lamp=FRACTION, seed=N, noise=VOLTS, "
                                     "head=connected|unplugged, adc=ok|stuck, card=present|removed). "
                                     "Written --simulate or --simulate=OPTIONS.")});
    parser.addOption({QStringLiteral("port-trace"), QStringLiteral("Record every port access in FILE."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("check"),
                      QStringLiteral("Test card and head without a window and print the head's identity; "
                                     "ADDRESS is hexadecimal (default: the stored port, else 300). "
                                     "Written --check or --check=ADDRESS.")});
    if (!parser.parse(args)) {
        std::fprintf(stderr, "kalvor: %s\nTry kalvor --help.\n", qPrintable(parser.errorText()));
        return exitcode::Usage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(exitcode::Ok);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kalvor: unexpected argument %s\nTry kalvor --help.\n",
                     qPrintable(parser.positionalArguments().first()));
        return exitcode::Usage;
    }
    o.portTrace = parser.value(QStringLiteral("port-trace"));

    return runProgram(o.simulate ? &o.simulateText : nullptr, o.portTrace, o.check, o.checkAddress, gui);
}
