// kalvor-link: reads, watches and writes the data items that a running KALVOR
// program serves, in the manner of caget, camonitor and caput.
#include "Commands.h"

#include "link/LinkPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>

using namespace kalvor;
using namespace kalvor::tool;

namespace {

const char kDescription[] =
    "Reads, watches and writes the data items of a running KALVOR program.\n"
    "\n"
    "Commands:\n"
    "  get NAME...          print the current value of each item\n"
    "  monitor NAME...      print a timestamped line for every update\n"
    "  put NAME VALUE       write an item (topic simulator only)\n"
    "  topics               list the topics\n"
    "  items [TOPIC]        list the items of a topic (default data)\n"
    "\n"
    "NAME is ITEM of topic data (A, WL, lblA1, lblA2, na, nb, nc) or TOPIC!ITEM.\n"
    "Put -- before a VALUE that starts with '-'.\n"
    "Exit status: 0 ok, 1 an item failed, 2 usage error, 3 no KALVOR program running.";

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvor-link"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption socket(
        QStringLiteral("socket"),
        QStringLiteral("The link socket (default %1).").arg(LinkPaths::socketPath()),
        QStringLiteral("PATH"));
    const QCommandLineOption terse(QStringList{QStringLiteral("t"), QStringLiteral("terse")},
                                   QStringLiteral("Print the value alone, without the name."));
    const QCommandLineOption quoted(QStringList{QStringLiteral("q"), QStringLiteral("quoted")},
                                    QStringLiteral("Print values in their quoted wire form."));
    const QCommandLineOption count(QStringList{QStringLiteral("n"), QStringLiteral("count")},
                                   QStringLiteral("monitor: stop after N updates."),
                                   QStringLiteral("N"));
    const QCommandLineOption warm(QStringLiteral("warm"),
                                  QStringLiteral("monitor: announce changes without values."));
    const QCommandLineOption wait(QStringList{QStringLiteral("w"), QStringLiteral("wait")},
                                  QStringLiteral("Seconds to wait for the program (default 5)."),
                                  QStringLiteral("SECONDS"), QStringLiteral("5"));
    parser.addOptions({socket, terse, quoted, count, warm, wait});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("get, monitor, put, topics or items."));
    parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("Names, values."),
                                 QStringLiteral("[NAME...] [VALUE]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(ExitOk);
    if (parser.isSet(version))
        parser.showVersion();

    Options options;
    options.socketPath = parser.isSet(socket) ? parser.value(socket) : LinkPaths::socketPath();
    options.terse = parser.isSet(terse);
    options.quoted = parser.isSet(quoted);
    options.warm = parser.isSet(warm);
    bool ok = false;
    const double seconds = parser.value(wait).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600)
        return usage(QStringLiteral("--wait needs a number of seconds"));
    options.timeoutMs = int(seconds * 1000);
    if (parser.isSet(count)) {
        options.count = parser.value(count).toLongLong(&ok);
        if (!ok || options.count <= 0)
            return usage(QStringLiteral("-n needs a positive number"));
    }

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = args.takeFirst();

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
    if (command == QLatin1String("items")) {
        if (args.size() > 1 || (args.size() == 1 && !validName(args[0])))
            return usage(QStringLiteral("items takes at most one TOPIC"));
        return runItems(options, args.isEmpty() ? QString::fromLatin1(link::kDefaultTopic)
                                                : args[0]);
    }
    return usage(QStringLiteral("unknown command \"%1\"").arg(command));
}
