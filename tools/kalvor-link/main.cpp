// kalvor-link: reads, watches and writes the data items that a running KALVOR
// program serves, in the manner of caget, camonitor and caput.
#include "Commands.h"

#include "core/StandardStreams.h"
#include "link/LinkPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cmath>
#include <csignal>

using namespace kalvor;
using namespace kalvor::tool;

namespace {

const char kDescription[] =
    "Reads, watches and writes the data items of a running KALVOR program.\n"
    "\n"
    "Commands:\n"
    "  get NAME...          print the current value of each item\n"
    "  monitor NAME...      print a timestamped line for every update\n"
    "  put NAME VALUE       write an item (where the topic allows it)\n"
    "  topics               list the topics\n"
    "  items [TOPIC]        list the items of a topic (default data)\n"
    "\n"
    "NAME is ITEM of topic data (A, WL, lblA1, lblA2, na, nb, nc) or TOPIC:ITEM,\n"
    "e.g. simulator:lamp (TOPIC!ITEM is the same name).\n"
    "Put -- before a VALUE that starts with '-'.\n"
    "\n"
    "get prints NAME VALUE; with -a NAME TIME SEQ VALUE. monitor prints NAME TIME\n"
    "VALUE (--warm: NAME TIME changed SEQ), or CSV with the header name,time,seq,value,\n"
    "or one JSON object per line. Times are UTC (ISO 8601) unless --local-time.\n"
    "A monitor started before the program waits for it, and after a disconnect\n"
    "waits for the program to come back, unless --no-wait.\n"
    "\n"
    "kalvor-link connects only to a socket in a folder of your own with mode 0700,\n"
    "served by a program running as you; anything else is refused with status 1.\n"
    "The socket is $XDG_RUNTIME_DIR/KALVOR/link.sock, or /tmp/KALVOR-<uid>/link.sock\n"
    "when XDG_RUNTIME_DIR is not set.\n"
    "\n"
    "Exit status: 0 ok, 1 an item failed, the socket is not trusted, the\n"
    "conversation failed or the output could not be written, 2 usage error,\n"
    "3 no KALVOR program running.";

bool validName(const QString& name)
{
    for (QChar c : name)
        if (c.isSpace() || c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    return true;
}

int usage(const QString& text)
{
    printError(text + QStringLiteral(" (see kalvor-link --help)"));
    return ExitUsage;
}

QString spelled(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& n : option.names())
        names.append((n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n);
    return names.join(QLatin1Char('/'));
}

int run()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption socket(
        QStringLiteral("socket"),
        QStringLiteral("The link socket (default %1).").arg(LinkPaths::socketPath()),
        QStringLiteral("PATH"));
    const QCommandLineOption terse(QStringList{QStringLiteral("t"), QStringLiteral("terse")},
                                   QStringLiteral("get, monitor: print the value alone, without "
                                                  "the name."));
    const QCommandLineOption quoted(QStringList{QStringLiteral("q"), QStringLiteral("quoted")},
                                    QStringLiteral("get, monitor: print values in their quoted "
                                                   "wire form."));
    const QCommandLineOption wide(QStringList{QStringLiteral("a"), QStringLiteral("wide")},
                                  QStringLiteral("get: print the time and seq of each value."));
    const QCommandLineOption count(QStringList{QStringLiteral("n"), QStringLiteral("count")},
                                   QStringLiteral("monitor: stop after N updates."),
                                   QStringLiteral("N"));
    const QCommandLineOption warm(QStringLiteral("warm"),
                                  QStringLiteral("monitor: announce changes without values."));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("monitor: text (default), csv or json."),
                                    QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption localTime(QStringLiteral("local-time"),
                                       QStringLiteral("get -a, monitor: times in the local time "
                                                      "zone, with their offset from UTC."));
    const QCommandLineOption noWait(QStringLiteral("no-wait"),
                                    QStringLiteral("monitor: end with status 3 when the program "
                                                   "is not running or ends."));
    const QCommandLineOption wait(QStringList{QStringLiteral("w"), QStringLiteral("wait")},
                                  QStringLiteral("Seconds to wait for the program to take a "
                                                 "request and to reply (default 5, at most 3600)."),
                                  QStringLiteral("SECONDS"), QStringLiteral("5"));
    parser.addOptions({socket, terse, quoted, wide, count, warm, format, localTime, noWait, wait});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("get, monitor, put, topics or items."));
    parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("Names, values."),
                                 QStringLiteral("[NAME...] [VALUE]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program, not the path it was started by.
        QString text = parser.helpText();
        const qsizetype end = text.indexOf(QLatin1Char('\n'));
        const qsizetype options = text.indexOf(QStringLiteral(" [options]"));
        if (text.startsWith(QStringLiteral("Usage: ")) && options > 0 && options < end)
            text.replace(7, options - 7, QStringLiteral("kalvor-link"));
        printBytes(text.toUtf8());
        return ExitOk;
    }
    if (parser.isSet(version))
        parser.showVersion();

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    const QStringList commands = {QStringLiteral("get"), QStringLiteral("monitor"),
                                  QStringLiteral("put"), QStringLiteral("topics"),
                                  QStringLiteral("items")};
    if (!commands.contains(command))
        return usage(QStringLiteral("unknown command \"%1\"").arg(command));

    // Options that do not apply to the command are errors, not ignored.
    const QStringList getOrMonitor = {QStringLiteral("get"), QStringLiteral("monitor")};
    const QStringList monitorOnly = {QStringLiteral("monitor")};
    const std::pair<const QCommandLineOption*, QStringList> applies[] = {
        {&terse, getOrMonitor}, {&quoted, getOrMonitor}, {&wide, {QStringLiteral("get")}},
        {&count, monitorOnly},  {&warm, monitorOnly},    {&format, monitorOnly},
        {&localTime, getOrMonitor}, {&noWait, monitorOnly},
    };
    for (const auto& [option, where] : applies)
        if (parser.isSet(*option) && !where.contains(command))
            return usage(QStringLiteral("%1 does not apply to %2").arg(spelled(*option), command));

    Options options;
    // Made absolute here: checked and connected as the path the user meant
    // (a relative name would otherwise be looked for in the temp folder).
    options.socketPath = QDir::cleanPath(
        QDir::current().absoluteFilePath(parser.isSet(socket) ? parser.value(socket) : LinkPaths::socketPath()));
    options.terse = parser.isSet(terse);
    options.quoted = parser.isSet(quoted);
    options.wide = parser.isSet(wide);
    options.localTime = parser.isSet(localTime);
    options.warm = parser.isSet(warm);
    options.wait = !parser.isSet(noWait);
    if (command == QLatin1String("get") && options.localTime && !options.wide)
        return usage(QStringLiteral("--local-time applies to get only with -a"));

    const QString formatName = parser.value(format);
    if (formatName == QLatin1String("csv"))
        options.format = Format::Csv;
    else if (formatName == QLatin1String("json"))
        options.format = Format::Json;
    else if (formatName != QLatin1String("text"))
        return usage(QStringLiteral("--format must be text, csv or json"));
    if (options.format != Format::Text && (options.terse || options.quoted))
        return usage(QStringLiteral("-t and -q apply only to --format=text"));

    bool ok = false;
    const double seconds = parser.value(wait).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        return usage(QStringLiteral("-w needs a number of seconds greater than 0 and at most 3600"));
    options.timeoutMs = std::max(1, int(std::ceil(seconds * 1000)));
    if (parser.isSet(count)) {
        options.count = parser.value(count).toLongLong(&ok);
        if (!ok || options.count <= 0)
            return usage(QStringLiteral("-n needs a positive number"));
    }

    auto targets = [&](const QStringList& names, QList<Target>* out) {
        for (const QString& name : names) {
            QString why;
            const std::optional<link::ItemName> item = link::splitItemName(name, &why);
            if (!item || !validName(item->topic) || !validName(item->item)) {
                usage(item ? QStringLiteral("\"%1\" is not a valid name").arg(name) : why);
                return false;
            }
            out->append({name, *item});
        }
        return true;
    };

    QList<Target> list;
    if (command == QLatin1String("get") || command == QLatin1String("monitor")) {
        if (args.isEmpty())
            return usage(QStringLiteral("%1 needs at least one NAME").arg(command));
        if (!targets(args, &list))
            return ExitUsage;
        return command == QLatin1String("get") ? runGet(options, list)
                                               : runMonitor(options, list);
    }
    if (command == QLatin1String("put")) {
        if (args.size() != 2)
            return usage(QStringLiteral("put needs NAME and VALUE"));
        if (!targets(args.mid(0, 1), &list))
            return ExitUsage;
        return runPut(options, list.first(), args[1]);
    }
    if (command == QLatin1String("topics")) {
        if (!args.isEmpty())
            return usage(QStringLiteral("topics takes no arguments"));
        return runTopics(options);
    }
    if (args.size() > 1 || (args.size() == 1 && !validName(args[0])))
        return usage(QStringLiteral("items takes at most one TOPIC"));
    return runItems(options, args.isEmpty() ? QString::fromLatin1(link::kDefaultTopic) : args[0]);
}

} // namespace

int main(int argc, char** argv)
{
    reopenClosedStandardStreams();
    // A reader of the output that has gone (| head -1) ends the output, not
    // the program: the write fails with EPIPE and kalvor-link ends quietly.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvor-link"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));
    const int code = run();
    // Values that could not be written are not a success; a reader that
    // stopped reading (a closed pipe) is, as for cat.
    return code == ExitOk && outputFailed() ? ExitItemFailed : code;
}
