#include "batch/CommandLine.h"

#include "records/ChainVerifier.h"
#include "batch/IdPlan.h"
#include "batch/Subcommand.h"
#include "records/RecordStore.h"
#include "link/LinkPaths.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

namespace kalvor::batch {

namespace {

// One line per further command, as "  name     summary".
QString commandSummaries()
{
    QString text;
    for (const Subcommand& c : subcommands())
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.name), -8).arg(QLatin1String(c.summary));
    return text;
}

struct Parser {
    QCommandLineParser p;
    QCommandLineOption batch{QStringLiteral("batch"), QStringLiteral("The batch to read (opened, or the open one of that name going on); for export, the batch to write."), QStringLiteral("NAME")};
    QCommandLineOption op{QStringLiteral("operator"), QStringLiteral("Who reads the batch (default: the login name)."), QStringLiteral("WHO")};
    QCommandLineOption lot{QStringLiteral("lot"), QStringLiteral("The film lot of a new batch."), QStringLiteral("LOT")};
    QCommandLineOption ids{QStringLiteral("ids"), QStringLiteral("The dosimeter IDs in reading order: a CSV file (the column headed id or dosimeter, else the first) or one ID per line."), QStringLiteral("FILE")};
    QCommandLineOption prefix{QStringLiteral("prefix"), QStringLiteral("Without a list, IDs count up after this prefix (default: the batch name and -)."), QStringLiteral("TEXT")};
    QCommandLineOption first{QStringLiteral("first"), QStringLiteral("Without a list, the first number; leading zeros set the width (default: 001)."), QStringLiteral("NUMBER")};
    QCommandLineOption readings{QStringLiteral("readings"), QStringLiteral("Consecutive readings that must agree before a film is stored (2-20; default 3)."), QStringLiteral("N")};
    QCommandLineOption band{QStringLiteral("band"), QStringLiteral("How far each of them may lie from their median, in absorbance (default 0.002)."), QStringLiteral("A")};
    QCommandLineOption timeout{QStringLiteral("timeout"), QStringLiteral("Seconds a film may take to settle before it is refused (1-600; default 10)."), QStringLiteral("SECONDS")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("export: the CSV file to write (- for standard output)."), QStringLiteral("FILE")};
    QCommandLineOption from{QStringLiteral("from"), QStringLiteral("export: readings from this day or time on (2026-12-07, 2026-12-07T14:30, local time unless Z or an offset is given)."), QStringLiteral("WHEN")};
    QCommandLineOption to{QStringLiteral("to"), QStringLiteral("export: readings up to this day (inclusive) or before this time."), QStringLiteral("WHEN")};
    QCommandLineOption store{QStringLiteral("store"), QStringLiteral("The record store (default: $XDG_DATA_HOME/KALVOR/records.sqlite)."), QStringLiteral("FILE")};
    QCommandLineOption socket{QStringLiteral("socket"), QStringLiteral("The link socket of KALVOR (default: $XDG_RUNTIME_DIR/KALVOR/link.sock)."), QStringLiteral("PATH")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Shows the version.")};

    Parser()
    {
        p.setApplicationDescription(QStringLiteral(
            "Reads radiochromic film dosimeters in batches through a running KALVOR program: insert a\n"
            "film, and its reading is stored once it is stable; the head's LED and a short beep confirm it.\n"
            "\n"
            "Commands (without one, the batch window opens):\n"
            "  export   writes readings as CSV: --csv FILE with --batch NAME and/or --from/--to\n"
            "  verify   checks the record store: SQLite's integrity check and the hash chain of every row\n")
            + commandSummaries() + QStringLiteral(
            "\n"
            "Exit status: 0 done (verify: the store is intact), 1 verify found damage or export failed,\n"
            "2 usage error, 3 another kalvor-batch window is open, 4 the record store cannot be opened,\n"
            "5 no display to open the window on."));
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("A command (optional; see above)."), QStringLiteral("[command]"));
        for (const QCommandLineOption* o : {&batch, &op, &lot, &ids, &prefix, &first, &readings, &band, &timeout, &csv, &from, &to, &store, &socket, &help, &version})
            p.addOption(*o);
    }
};

CommandLine failed(const QString& text)
{
    CommandLine cl;
    cl.mode = CommandLine::Mode::Error;
    cl.error = text;
    return cl;
}

} // namespace

QString helpText()
{
    Parser parser;
    QString text = parser.p.helpText();
    text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: kalvor-batch"));
    return text;
}

std::optional<QDateTime> parseWhen(const QString& text, bool upperBound)
{
    const QString t = text.trimmed();
    const QDate day = QDate::fromString(t, Qt::ISODate);
    if (day.isValid() && t.size() == 10)
        return upperBound ? day.addDays(1).startOfDay() : day.startOfDay();
    QDateTime when = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!when.isValid())
        when = QDateTime::fromString(t, Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    return when;
}

std::optional<QStringList> readIdFile(const QString& path, QString* why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = f.read(16 * 1024 * 1024 + 1);
    if (bytes.size() > 16 * 1024 * 1024) {
        *why = QStringLiteral("%1 is too large for a list of IDs").arg(path);
        return std::nullopt;
    }
    QString parseWhy;
    std::optional<QStringList> ids = IdPlan::parseCsv(QString::fromUtf8(bytes), &parseWhy);
    if (!ids)
        *why = QStringLiteral("%1: %2").arg(path, parseWhy);
    return ids;
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    Parser parser;
    QCommandLineParser& p = parser.p;
    if (!p.parse(arguments))
        return failed(p.errorText());
    CommandLine cl;
    if (p.isSet(parser.help)) {
        cl.mode = CommandLine::Mode::Help;
        return cl;
    }
    if (p.isSet(parser.version)) {
        cl.mode = CommandLine::Mode::Version;
        return cl;
    }
    const QStringList positional = p.positionalArguments();
    if (positional.size() > 1)
        return failed(QStringLiteral("one command at most, not: %1").arg(positional.join(QLatin1Char(' '))));
    const QString command = positional.value(0);
    if (command == QLatin1String("export"))
        cl.mode = CommandLine::Mode::Export;
    else if (command == QLatin1String("verify"))
        cl.mode = CommandLine::Mode::Verify;
    else if (!command.isEmpty())
        return failed(QStringLiteral("unknown command %1 (see kalvor-batch --help)").arg(command));

    cl.storePath = p.isSet(parser.store) ? p.value(parser.store) : RecordStore::defaultPath();
    cl.socketPath = p.isSet(parser.socket) ? p.value(parser.socket) : LinkPaths::socketPath();
    if (cl.storePath.isEmpty())
        return failed(QStringLiteral("--store needs a file name"));

    auto notFor = [&](const QList<const QCommandLineOption*>& options, const QString& mode) -> std::optional<CommandLine> {
        for (const QCommandLineOption* o : options)
            if (p.isSet(*o))
                return failed(QStringLiteral("--%1 does not go with %2").arg(o->names().constLast(), mode));
        return std::nullopt;
    };
    const QList<const QCommandLineOption*> windowOnly{&parser.op, &parser.lot, &parser.ids, &parser.prefix,
                                                      &parser.first, &parser.readings, &parser.band,
                                                      &parser.timeout, &parser.socket};
    switch (cl.mode) {
    case CommandLine::Mode::Verify:
        if (auto bad = notFor(windowOnly + QList<const QCommandLineOption*>{&parser.batch, &parser.csv, &parser.from, &parser.to}, QStringLiteral("verify")))
            return *bad;
        return cl;
    case CommandLine::Mode::Export: {
        if (auto bad = notFor(windowOnly, QStringLiteral("export")))
            return *bad;
        if (!p.isSet(parser.csv) || p.value(parser.csv).isEmpty())
            return failed(QStringLiteral("export needs --csv FILE"));
        cl.csvPath = p.value(parser.csv);
        cl.selection.batchName = p.value(parser.batch);
        if (p.isSet(parser.from)) {
            const auto when = parseWhen(p.value(parser.from), false);
            if (!when)
                return failed(QStringLiteral("--from %1 is no date or time (e.g. 2026-12-07 or 2026-12-07T14:30)").arg(p.value(parser.from)));
            cl.selection.from = *when;
        }
        if (p.isSet(parser.to)) {
            const auto when = parseWhen(p.value(parser.to), true);
            if (!when)
                return failed(QStringLiteral("--to %1 is no date or time (e.g. 2026-12-07 or 2026-12-07T14:30)").arg(p.value(parser.to)));
            cl.selection.to = *when;
        }
        if (cl.selection.batchName.isEmpty() && !p.isSet(parser.from) && !p.isSet(parser.to))
            return failed(QStringLiteral("export needs --batch NAME, or --from/--to for a time range"));
        return cl;
    }
    default:
        break;
    }
    if (auto bad = notFor({&parser.csv, &parser.from, &parser.to}, QStringLiteral("the batch window (use the export command)")))
        return *bad;
    cl.batchGiven = p.isSet(parser.batch);
    if (!cl.batchGiven) {
        if (auto bad = notFor({&parser.op, &parser.lot, &parser.ids, &parser.prefix, &parser.first}, QStringLiteral("a window without --batch")))
            return *bad;
    }
    cl.batch.name = p.value(parser.batch).trimmed();
    if (cl.batchGiven && cl.batch.name.isEmpty())
        return failed(QStringLiteral("--batch needs a name"));
    cl.batch.operatorName = p.value(parser.op);
    cl.batch.lot = p.value(parser.lot);
    cl.batch.idPrefix = p.value(parser.prefix);
    cl.batch.idFirst = p.value(parser.first);
    if (p.isSet(parser.first) && !QRegularExpression(QStringLiteral("^\\d{1,12}$")).match(cl.batch.idFirst).hasMatch())
        return failed(QStringLiteral("--first %1 is no number of 1 to 12 digits").arg(cl.batch.idFirst));
    cl.idsFile = p.value(parser.ids);
    if (p.isSet(parser.readings) || p.isSet(parser.band) || p.isSet(parser.timeout)) {
        StabilityRule rule;
        bool ok = true;
        if (p.isSet(parser.readings))
            rule.count = p.value(parser.readings).toInt(&ok);
        if (ok && p.isSet(parser.band))
            rule.band = p.value(parser.band).toDouble(&ok);
        if (ok && p.isSet(parser.timeout))
            rule.timeoutMs = int(p.value(parser.timeout).toDouble(&ok) * 1000);
        if (!ok || !rule.isValid())
            return failed(QStringLiteral("--readings takes 2 to 20, --band more than 0 up to 1, --timeout 1 to 600 seconds"));
        cl.rule = rule;
    }
    return cl;
}

namespace {

std::optional<int> openStore(RecordStore& store, const CommandLine& cl, QTextStream& err)
{
    QString why;
    if (store.open(cl.storePath, RecordStore::OpenMode::ExistingOnly, &why) == RecordStore::OpenError::None)
        return std::nullopt;
    err << "kalvor-batch: " << why << Qt::endl;
    return exitcode::StoreError;
}

} // namespace

int runExport(const CommandLine& cl, QTextStream& out, QTextStream& err)
{
    RecordStore store;
    if (const auto failedOpen = openStore(store, cl, err))
        return *failedOpen;
    QString why;
    const std::optional<int> rows = exportReadingsCsv(store, cl.selection, cl.csvPath, BatchSession::loginName(), &why);
    if (!rows) {
        err << "kalvor-batch: " << why << Qt::endl;
        return exitcode::Failed;
    }
    if (cl.csvPath != QLatin1String("-"))
        out << *rows << " readings of " << cl.selection.describe() << " written to " << cl.csvPath << Qt::endl;
    return exitcode::Ok;
}

int runVerify(const CommandLine& cl, QTextStream& out, QTextStream& err)
{
    RecordStore store;
    if (const auto failedOpen = openStore(store, cl, err))
        return *failedOpen;
    const ChainReport report = verifyChain(store);
    if (!report.ok()) {
        err << "kalvor-batch: " << cl.storePath << ": " << report.summary() << Qt::endl;
        return exitcode::Failed;
    }
    out << cl.storePath << ": " << report.summary() << Qt::endl;
    return exitcode::Ok;
}

} // namespace kalvor::batch
