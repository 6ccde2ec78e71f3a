#include "app/CommandLine.h"

#include "app/ProgramEnd.h"
#include "core/SettingsStore.h"

#include <QCommandLineParser>

namespace kalvor {

namespace {

const QString kUsageLine = QStringLiteral("Usage: kalvor [options]");

// Options of QApplication and its platform plugins. They are taken apart
// again by QApplication itself; here they only must not count as unknown.
// Shown by --help-all.
struct QtOption {
    const char* name;
    const char* valueName; // null: a switch
    const char* description;
};
constexpr QtOption kQtOptions[] = {
    {"platform", "NAME[:OPTIONS]", "Qt platform plugin to use (xcb, wayland, offscreen, ...)."},
    {"platformpluginpath", "PATH", "Where to look for Qt platform plugins."},
    {"platformtheme", "THEME", "Qt platform theme to use."},
    {"plugin", "PLUGIN", "An additional Qt plugin to load."},
    {"display", "DISPLAY", "X11 display to use instead of $DISPLAY."},
    {"qwindowgeometry", "GEOMETRY", "Geometry of the first window (X11)."},
    {"geometry", "GEOMETRY", "Geometry of the first window (X11)."},
    {"qwindowicon", "ICON", "Default window icon."},
    {"qwindowtitle", "TITLE", "Title of the first window."},
    {"name", "NAME", "Application name for the window system (X11)."},
    {"session", "SESSION", "Restore the application from an earlier session."},
    {"style", "STYLE", "Qt widget style."},
    {"stylesheet", "FILE", "Qt style sheet."},
    {"qmljsdebugger", "PORT", "QML debugger (not used by KALVOR)."},
    {"reverse", nullptr, "Right-to-left layout (for testing)."},
    {"widgetcount", nullptr, "Count widgets at the end (for debugging)."},
    {"nograb", nullptr, "Never grab mouse or keyboard (X11)."},
    {"dograb", nullptr, "Allow grabbing mouse and keyboard (X11)."},
    {"sync", nullptr, "Synchronous X11 calls (for debugging)."},
};

void addOptions(QCommandLineParser& parser, bool showQtOptions)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "KALVOR reader for radiochromic film dosimeters: reads the absorbance through the BRENIK card,\n"
        "shows it and serves every reading to other programs (see kalvor-link)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Run on the simulated reader instead of the card; OPTIONS is KEY=VALUE,... "
                                     "(address=HEX, identity=TEXT, dosimeter=A|none, holder=film|filter, "
                                     "filter=none|light|medium|dark, lamp=FRACTION, seed=N, noise=VOLTS, "
                                     "head=connected|unplugged, adc=ok|stuck, card=present|removed, speed=FACTOR). "
                                     "Written --simulate or --simulate=OPTIONS.")});
    parser.addOption({QStringLiteral("port-trace"), QStringLiteral("Record every port access in FILE."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("check"),
                      QStringLiteral("Test card and head without a window and print the head's identity; "
                                     "ADDRESS is hexadecimal, 100 to 3E0 (default: the stored port, else 300). "
                                     "Written --check or --check=ADDRESS.")});
    for (const QtOption& q : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(q.name), QString::fromLatin1(q.description));
        if (q.valueName)
            option.setValueName(QString::fromLatin1(q.valueName));
        if (!showQtOptions)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QString helpText(bool all)
{
    QCommandLineParser parser;
    addOptions(parser, all);
    QString text = parser.helpText();
    // The parser names the program by its full path (or a placeholder).
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, firstLineEnd, kUsageLine);

    text += QStringLiteral("\nExit status:\n");
    for (const ExitStatus& e : exitStatuses())
        text += QStringLiteral("  %1  %2\n").arg(e.status, 2).arg(QString::fromLatin1(e.meaning));
    text += QStringLiteral(
                "  When the end itself meets a fault (values that could not be stored, a port trace\n"
                "  cut short), the status is that of the first fault instead of 0.\n"
                "\nSettings file:\n"
                "  $XDG_CONFIG_HOME/KALVOR/KALVOR.conf, here %1\n"
                "  over the defaults for every account in KALVOR/KALVOR.conf of each folder of\n"
                "  $XDG_CONFIG_DIRS (/etc/xdg when it is unset)\n"
                "\nEnvironment:\n"
                "  XDG_CONFIG_HOME  folder of the settings file (default: ~/.config)\n"
                "  XDG_CONFIG_DIRS  folders of the settings for every account (default: /etc/xdg)\n"
                "  XDG_RUNTIME_DIR  folder of the link socket, $XDG_RUNTIME_DIR/KALVOR/link.sock\n"
                "                   (/tmp/KALVOR-<uid>/link.sock when it is unset)\n")
                .arg(SettingsStore::defaultFilePath());
    return text;
}

CommandLine usageError(const QString& why)
{
    CommandLine c;
    c.action = CommandLine::Action::UsageError;
    c.text = QStringLiteral("kalvor: %1\n%2\nTry 'kalvor --help' for more information.\n").arg(why, kUsageLine);
    return c;
}

} // namespace

std::optional<int> parseCardAddress(const QString& address)
{
    QString text = address.trimmed();
    if (text.startsWith(QStringLiteral("&H"), Qt::CaseInsensitive)
        || text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const int port = text.toInt(&ok, 16);
    if (!ok || text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) || port < 0x100
        || port > 0x3E0)
        return std::nullopt;
    return port;
}

CommandLine parseCommandLine(const QStringList& args)
{
    CommandLine c;
    StartOptions& o = c.options;
    // QCommandLineParser has no options with an optional value: "--simulate"
    // and "--simulate=..." (likewise --check) are taken apart here first.
    QStringList rest;
    std::optional<QString> checkAddress;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i == 0) {
            rest << a;
        } else if (a == QLatin1String("--simulate") || a == QLatin1String("-simulate")) {
            o.simulate = true;
        } else if (a.startsWith(QLatin1String("--simulate="))) {
            o.simulate = true;
            o.simulateText = a.mid(int(qstrlen("--simulate=")));
        } else if (a == QLatin1String("--check")) {
            o.check = true;
        } else if (a.startsWith(QLatin1String("--check="))) {
            o.check = true;
            checkAddress = a.mid(int(qstrlen("--check=")));
        } else if (a == QLatin1String("--")) {
            rest << args.mid(i);
            break;
        } else {
            rest << a;
        }
    }

    QCommandLineParser parser;
    addOptions(parser, false);
    if (!parser.parse(rest))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help-all")) || parser.isSet(QStringLiteral("help"))) {
        c.action = CommandLine::Action::Help;
        c.text = helpText(parser.isSet(QStringLiteral("help-all")));
        return c;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        c.action = CommandLine::Action::Version;
        c.text = QStringLiteral("kalvor " KALVOR_VERSION "\n");
        return c;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("port-trace"))) {
        o.portTrace = parser.value(QStringLiteral("port-trace"));
        if (o.portTrace.isEmpty())
            return usageError(QStringLiteral("--port-trace needs a file name"));
    }
    if (checkAddress) {
        o.checkAddress = parseCardAddress(*checkAddress);
        if (!o.checkAddress)
            return usageError(QStringLiteral("--check=%1: the card address must be hexadecimal, from 100 to 3E0 "
                                             "(for example --check=300)")
                                  .arg(*checkAddress));
    }
    return c;
}

} // namespace kalvor
