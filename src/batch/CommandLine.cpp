#include "batch/CommandLine.h"

#include "batch/DoseAssessment.h"
#include "batch/BatchSettings.h"
#include "batch/IdPlan.h"
#include "batch/ReportRecord.h"
#include "batch/Subcommand.h"
#include "records/RecordStore.h"
#include "core/PrintableText.h"
#include "link/LinkPaths.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <functional>

namespace kalvor::batch {

namespace {

// One line per further command, as "  name     summary"; a name too long
// for the column has its summary on the next line, in the column.
QString commandSummaries()
{
    QString text;
    for (const Subcommand& c : subcommands()) {
        const QLatin1String name(c.name);
        if (name.size() > 8)
            text += QStringLiteral("  %1\n%2%3\n").arg(name, QString(11, QLatin1Char(' ')), QLatin1String(c.summary));
        else
            text += QStringLiteral("  %1 %2\n").arg(name, -8).arg(QLatin1String(c.summary));
    }
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
    QCommandLineOption irradiated{QStringLiteral("irradiated"), QStringLiteral("The end of the batch's irradiation (2026-12-07T09:30, local time unless Z or an offset is given): readings outside the calibration's read window are flagged."), QStringLiteral("WHEN")};
    QCommandLineOption limits{QStringLiteral("limits"), QStringLiteral("The product's dose limits in kGy, e.g. 25..40: each dose is judged pass, below or above."), QStringLiteral("LOW..HIGH")};
    QCommandLineOption guardBand{QStringLiteral("guard-band"), QStringLiteral("Judge doses with a guard band of their expanded uncertainty U: pass, fail or undecided.")};
    QCommandLineOption timeout{QStringLiteral("timeout"), QStringLiteral("Seconds a film may take to settle before it is refused (1-600; default 10)."), QStringLiteral("SECONDS")};
    QCommandLineOption dailyCheck{QStringLiteral("daily-check"), QStringLiteral("The day's filter check before a batch: off, warn (a batch on a reader without a passed check today starts, with a warning recorded) or require (it reads no film until the reader passes one); default: DailyCheck in kalvor-batch.conf, else warn."), QStringLiteral("off|warn|require")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("export: the CSV file to write (- for standard output)."), QStringLiteral("FILE")};
    QCommandLineOption from{QStringLiteral("from"), QStringLiteral("export: readings from this day or time on (2026-12-07, 2026-12-07T14:30, local time unless Z or an offset is given)."), QStringLiteral("WHEN")};
    QCommandLineOption to{QStringLiteral("to"), QStringLiteral("export: readings up to this day (inclusive) or before this time."), QStringLiteral("WHEN")};
    QCommandLineOption raw{QStringLiteral("raw"), QStringLiteral("export: cells exactly as stored; without it, a text cell that begins with =, +, -, @, a tab or a carriage return gets a ' before it, so that spreadsheets do not run it as a formula (plain numbers stay as they are)."), QString()};
    QCommandLineOption expect{QStringLiteral("expect"), QStringLiteral("verify: a chain head kept from before (the last hash verify or an export's chain file gave): the last row, or the row of --at, must have this hash."), QStringLiteral("HASH")};
    QCommandLineOption at{QStringLiteral("at"), QStringLiteral("verify: the row that --expect names (default: the last row)."), QStringLiteral("ROW")};
    QCommandLineOption report{QStringLiteral("report"), QStringLiteral("verify: whether FILE is a report as issued from this store (its SHA-256 is in a report event) and whether the store still holds every row it was made from."), QStringLiteral("FILE")};
    QCommandLineOption store{QStringLiteral("store"), BatchSettings::storeHelp(), QStringLiteral("STORE")};
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
            "  export   writes readings as CSV: --csv FILE with --batch NAME and/or --from/--to; beside\n"
            "           FILE, FILE.chain names the chain head it was read from\n"
            "  verify   checks the record store: SQLite's integrity check, its tables and triggers, the\n"
            "           hash chain of every row, and with --expect a chain head kept from before;\n"
            "           with --report FILE, whether FILE is a report as issued and its rows are all there\n")
            + commandSummaries() + QStringLiteral(
            "export and verify open the store read-only and leave no file beside it.\n"
            "\n"
            "Exit status: 0 done (verify: the store is intact), 1 verify found damage, a kept head that\n"
            "does not match or a report not as issued, export or report failed, a fit was refused or a\n"
            "calibration verification failed, 2 usage error, 3 another kalvor-batch window is open,\n"
            "4 the record store cannot be opened, 5 no display to open the window on."));
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("A command (optional; see above)."), QStringLiteral("[command]"));
        for (const QCommandLineOption* o : {&batch, &op, &lot, &ids, &prefix, &first, &irradiated, &limits, &guardBand, &readings, &band, &timeout, &dailyCheck, &csv, &from, &to, &raw, &expect, &at, &report, &store, &socket, &help, &version})
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

std::optional<QList<IdEntry>> readIdFile(const QString& path, QString* why)
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
    std::optional<QList<IdEntry>> ids = IdPlan::parseCsv(QString::fromUtf8(bytes), &parseWhy);
    if (!ids)
        *why = QStringLiteral("%1: %2").arg(path, parseWhy);
    else if (ids->isEmpty()) {
        *why = QStringLiteral("%1 holds no dosimeter ID").arg(path);
        return std::nullopt;
    }
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

    cl.storePath = p.isSet(parser.store) ? p.value(parser.store) : BatchSettings::store();
    cl.socketPath = p.isSet(parser.socket) ? p.value(parser.socket) : LinkPaths::socketPath();
    if (cl.storePath.isEmpty())
        return failed(QStringLiteral("--store needs a file or a postgresql:// URI"));

    auto notFor = [&](const QList<const QCommandLineOption*>& options, const QString& mode) -> std::optional<CommandLine> {
        for (const QCommandLineOption* o : options)
            if (p.isSet(*o))
                return failed(QStringLiteral("--%1 does not go with %2").arg(o->names().constLast(), mode));
        return std::nullopt;
    };
    const QList<const QCommandLineOption*> windowOnly{&parser.op, &parser.lot, &parser.ids, &parser.prefix,
                                                      &parser.first, &parser.readings, &parser.band,
                                                      &parser.timeout, &parser.socket, &parser.irradiated,
                                                      &parser.limits, &parser.guardBand, &parser.dailyCheck};
    switch (cl.mode) {
    case CommandLine::Mode::Verify:
        if (auto bad = notFor(windowOnly + QList<const QCommandLineOption*>{&parser.batch, &parser.csv, &parser.from, &parser.to, &parser.raw}, QStringLiteral("verify")))
            return *bad;
        if (p.isSet(parser.report)) {
            if (p.isSet(parser.expect) || p.isSet(parser.at))
                return failed(QStringLiteral("--report goes without --expect and --at: the report's event names its chain head"));
            cl.reportFile = p.value(parser.report);
            if (cl.reportFile.isEmpty())
                return failed(QStringLiteral("--report needs a file name"));
            return cl;
        }
        if (p.isSet(parser.expect)) {
            const QString hash = p.value(parser.expect).trimmed().toLower();
            if (!QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(hash).hasMatch())
                return failed(QStringLiteral("--expect takes a hash of 64 hexadecimal digits, as verify prints it"));
            cl.expect = KeptHead{hash.toLatin1(), std::nullopt};
            if (p.isSet(parser.at)) {
                bool ok = false;
                const qint64 row = p.value(parser.at).toLongLong(&ok);
                if (!ok || row < 1)
                    return failed(QStringLiteral("--at takes a row number, 1 or more"));
                cl.expect->row = row;
            }
        } else if (p.isSet(parser.at)) {
            return failed(QStringLiteral("--at goes with --expect HASH"));
        }
        return cl;
    case CommandLine::Mode::Export: {
        if (auto bad = notFor(windowOnly + QList<const QCommandLineOption*>{&parser.expect, &parser.at, &parser.report}, QStringLiteral("export")))
            return *bad;
        cl.raw = p.isSet(parser.raw);
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
    if (auto bad = notFor({&parser.csv, &parser.from, &parser.to, &parser.raw}, QStringLiteral("the batch window (use the export command)")))
        return *bad;
    if (auto bad = notFor({&parser.expect, &parser.at, &parser.report}, QStringLiteral("the batch window (use the verify command)")))
        return *bad;
    cl.batchGiven = p.isSet(parser.batch);
    if (!cl.batchGiven) {
        if (auto bad = notFor({&parser.op, &parser.lot, &parser.ids, &parser.prefix, &parser.first, &parser.irradiated, &parser.limits, &parser.guardBand}, QStringLiteral("a window without --batch")))
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
    if (p.isSet(parser.irradiated)) {
        const std::optional<QDateTime> when = parseWhen(p.value(parser.irradiated), false);
        if (!when || p.value(parser.irradiated).trimmed().size() == 10)
            return failed(QStringLiteral("--irradiated %1 is no date and time (e.g. 2026-12-07T09:30)").arg(p.value(parser.irradiated)));
        cl.batch.irradiated = *when;
    }
    if (p.isSet(parser.limits)) {
        cl.batch.limits = parseLimits(p.value(parser.limits));
        if (!cl.batch.limits)
            return failed(QStringLiteral("--limits takes LOW..HIGH in kGy, e.g. 25..40"));
    }
    if (p.isSet(parser.guardBand))
        cl.batch.guardBand = true;
    if (p.isSet(parser.dailyCheck)) {
        cl.dailyCheck = parseDailyCheckMode(p.value(parser.dailyCheck));
        if (!cl.dailyCheck)
            return failed(QStringLiteral("--daily-check takes off, warn or require, not %1").arg(p.value(parser.dailyCheck)));
    }
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
constexpr int kReadAttempts = 3;
} // namespace

int withReadOnlyStore(const QString& path, QTextStream& err, const std::function<std::optional<int>(RecordStore&)>& read)
{
    for (int attempt = 1;; ++attempt) {
        RecordStore store;
        QString why;
        if (store.open(path, RecordStore::OpenMode::ReadOnly, &why) != RecordStore::OpenError::None) {
            err << "kalvor-batch: " << printableText(why) << Qt::endl;
            return exitcode::StoreError;
        }
        const std::optional<int> status = read(store);
        if (!store.changedSinceOpen())
            return status.value_or(exitcode::Ok);
        if (attempt == kReadAttempts) {
            err << "kalvor-batch: " << printableText(path)
                << ": the store kept changing while it was read; try again" << Qt::endl;
            return exitcode::Failed;
        }
    }
}

namespace {

int withStore(const CommandLine& cl, QTextStream& err, const std::function<std::optional<int>(RecordStore&)>& read)
{
    return withReadOnlyStore(cl.storePath, err, read);
}

// verify --report FILE: the file against the report events of the store.
int verifyReport(const CommandLine& cl, QTextStream& out, QTextStream& err)
{
    QFile file(cl.reportFile);
    constexpr qint64 kLargest = qint64(1) << 30;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargest) {
        err << "kalvor-batch: cannot read " << printableText(cl.reportFile) << ": "
            << (file.isOpen() ? QStringLiteral("larger than any report") : file.errorString()) << Qt::endl;
        return exitcode::Failed;
    }
    const QByteArray bytes = file.readAll();
    ReportCheck check;
    const int read = withStore(cl, err, [&](RecordStore& store) -> std::optional<int> {
        check = checkReport(store, bytes);
        return std::nullopt;
    });
    if (read != exitcode::Ok)
        return read;
    const QString text = printableText(check.text(cl.reportFile));
    if (!check.ok()) {
        err << "kalvor-batch: " << text << Qt::endl;
        return exitcode::Failed;
    }
    out << text << Qt::endl;
    return exitcode::Ok;
}

} // namespace

int runExport(const CommandLine& cl, QTextStream& out, QTextStream& err)
{
    std::optional<ExportData> data;
    const int read = withStore(cl, err, [&](RecordStore& store) -> std::optional<int> {
        QString why;
        data = readExport(store, cl.selection, &why);
        if (data)
            return std::nullopt;
        err << "kalvor-batch: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    });
    if (read != exitcode::Ok)
        return read;
    ExportOptions options;
    options.operatorName = BatchSession::loginName();
    options.raw = cl.raw;
    QString why;
    if (!writeExport(*data, cl.csvPath, options, &why)) {
        err << "kalvor-batch: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    }
    const QString what = QStringLiteral("%1 readings of %2").arg(data->readings.size()).arg(cl.selection.describe());
    const QString head = QStringLiteral("row %1, hash %2").arg(data->head.rows).arg(QString::fromLatin1(data->head.hash));
    if (cl.csvPath == QLatin1String("-"))
        err << "kalvor-batch: " << printableText(QStringLiteral("%1 from %2; chain head %3").arg(what, data->storePath, head))
            << Qt::endl;
    else
        out << printableText(QStringLiteral("%1 written to %2; its chain head (%3) to %2.chain").arg(what, cl.csvPath, head))
            << Qt::endl;

    // The event is recorded once the files are written: a store that cannot
    // take it still gives its export.
    switch (recordExport(cl.storePath, *data, cl.csvPath, options.operatorName, &why)) {
    case Recorded::Yes:
        return exitcode::Ok;
    case Recorded::ReadOnlyStore:
        err << "kalvor-batch: warning: " << printableText(why) << Qt::endl;
        return exitcode::Ok;
    case Recorded::Failed:
        break;
    }
    err << "kalvor-batch: the export is written, but " << printableText(why) << Qt::endl;
    return exitcode::Failed;
}

int runVerify(const CommandLine& cl, QTextStream& out, QTextStream& err)
{
    if (!cl.reportFile.isEmpty())
        return verifyReport(cl, out, err);
    ChainReport report;
    const int read = withStore(cl, err, [&](RecordStore& store) -> std::optional<int> {
        report = verifyChain(store, cl.expect);
        return std::nullopt;
    });
    if (read != exitcode::Ok)
        return read;
    const QString path = printableText(cl.storePath);
    if (!report.ok()) {
        for (const QString& line : report.lines())
            err << "kalvor-batch: " << path << ": " << printableText(line) << Qt::endl;
        return exitcode::Failed;
    }
    out << path << ": " << printableText(report.summary()) << Qt::endl;
    return exitcode::Ok;
}

} // namespace kalvor::batch
