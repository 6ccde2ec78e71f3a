// kalvor-batch qc [--from WHEN] [--to WHEN] [--baseline-from WHEN --baseline-to WHEN]
//                 [--csv FILE] [--pdf FILE]
// The reader under statistical control, without a window: the filter checks
// against their references with the I-MR charts' findings, the zero trends
// and the calibration verifications; as text, CSV (one row per filter
// result) and a PDF report. Opens the store read-only.
#include "batch/CommandLine.h"
#include "batch/QcCommands.h"
#include "batch/Subcommand.h"
#include "core/PrintableText.h"

#include <QSaveFile>
#include <QSettings>

#include "batch/BatchSettings.h"

namespace kalvor::batch {

namespace {

QcPdfWriter& writerSlot()
{
    static QcPdfWriter writer;
    return writer;
}

} // namespace

std::pair<QDate, QDate> storedBaseline()
{
    const QSettings s(BatchSettings::filePath(), QSettings::IniFormat);
    return {QDate::fromString(s.value(QStringLiteral("QualityControl/BaselineFrom")).toString(), Qt::ISODate),
            QDate::fromString(s.value(QStringLiteral("QualityControl/BaselineTo")).toString(), Qt::ISODate)};
}

void storeBaseline(const QDate& from, const QDate& to)
{
    QSettings s(BatchSettings::filePath(), QSettings::IniFormat);
    for (const auto& [key, day] : {std::pair{QStringLiteral("QualityControl/BaselineFrom"), from},
                                   std::pair{QStringLiteral("QualityControl/BaselineTo"), to}}) {
        if (day.isValid())
            s.setValue(key, day.toString(Qt::ISODate));
        else
            s.remove(key);
    }
}

void setQcPdfWriter(QcPdfWriter writer) { writerSlot() = std::move(writer); }
const QcPdfWriter& qcPdfWriter() { return writerSlot(); }

QString qcText(const QcData& d)
{
    QString out = QStringLiteral("Quality control, %1\n").arg(periodText(d.options));
    if (d.series.isEmpty())
        out += QStringLiteral("\nNo filter check with a reference in this period.\n");
    for (const FilterSeries& s : d.series) {
        out += QLatin1Char('\n') + s.title() + QLatin1Char('\n');
        for (const QString& line : seriesFindings(s, d.options))
            out += QStringLiteral("  ") + line + QLatin1Char('\n');
    }
    int unjudged = 0;
    for (const JudgedCheck& j : d.results)
        unjudged += j.judged() ? 0 : 1;
    if (unjudged > 0)
        out += QStringLiteral("\nFilter results without a reference filter to judge them by: %1\n").arg(unjudged);
    out += QStringLiteral("\nZero of the reader\n");
    if (d.zeros.isEmpty())
        out += QStringLiteral("  no stored reading in this period\n");
    for (const ZeroTrend& z : d.zeros)
        out += QStringLiteral("  %1: %2\n").arg(z.title(), z.summary());
    out += QStringLiteral("\nCalibration verifications\n");
    if (d.verifications.isEmpty())
        out += QStringLiteral("  none in this period\n");
    for (const records::VerificationRecord& v : d.verifications)
        out += QStringLiteral("  %1 lot %2, batch %3: mean ratio %4, SD %5, %6 films, ±%7 %: %8\n")
                   .arg(QDateTime::fromString(v.timeUtc, Qt::ISODateWithMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                        v.lot, v.batchName, QString::number(v.meanRatio, 'f', 4), QString::number(v.sdRatio, 'f', 4))
                   .arg(v.films)
                   .arg(QString::number(v.tolerancePct, 'g', 4), v.passed ? QStringLiteral("pass") : QStringLiteral("FAIL"));
    return out;
}

int runQc(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("qc"),
                     QStringLiteral("The reader under statistical control: every filter check result against its reference\n"
                                    "filter, an I-MR chart of the deviations of each reader, wavelength and filter with the\n"
                                    "run rules that fire (1: one point beyond 3σ; 2: two of three beyond 2σ on one side;\n"
                                    "3: four of five beyond 1σ on one side; 4: eight in a row on one side of the centre),\n"
                                    "the trend of the reader's zero, and the calibration verifications. Limits come from\n"
                                    "the first 20 checks of each chart, or from --baseline-from/--baseline-to.\n"
                                    "Opens the store read-only; never touches the display.\n"
                                    "Exit status: 0 done, 1 a file could not be written, 2 usage error, 4 the store cannot be opened."));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("From this day or time on (2026-12-07, 2026-12-07T14:30; local time unless Z or an offset is given)."), QStringLiteral("WHEN"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Up to this day (inclusive) or before this time."), QStringLiteral("WHEN"));
    const QCommandLineOption baselineFrom(QStringLiteral("baseline-from"), QStringLiteral("The control limits from the checks of a period fixed by you, from this day or time ..."), QStringLiteral("WHEN"));
    const QCommandLineOption baselineTo(QStringLiteral("baseline-to"), QStringLiteral("... up to this day (inclusive) or before this time."), QStringLiteral("WHEN"));
    const QCommandLineOption csvOption(QStringLiteral("csv"), QStringLiteral("Writes one row per filter result to FILE (- for standard output)."), QStringLiteral("FILE"));
    const QCommandLineOption pdfOption(QStringLiteral("pdf"), QStringLiteral("Writes the report with its charts to FILE (A4, or Letter where the locale measures in inches)."), QStringLiteral("FILE"));
    for (const QCommandLineOption* o : {&from, &to, &baselineFrom, &baselineTo, &csvOption, &pdfOption})
        cp.add(*o);
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    if (!p.positionalArguments().isEmpty())
        return cp.usage(err, QStringLiteral("qc takes no arguments, only options: %1").arg(p.positionalArguments().join(QLatin1Char(' '))));
    QcOptions options;
    for (const auto& [option, target, upper] : {std::tuple{&from, &options.from, false}, std::tuple{&to, &options.to, true},
                                                std::tuple{&baselineFrom, &options.baselineFrom, false},
                                                std::tuple{&baselineTo, &options.baselineTo, true}}) {
        if (!p.isSet(*option))
            continue;
        const std::optional<QDateTime> when = parseWhen(p.value(*option), upper);
        if (!when)
            return cp.usage(err, QStringLiteral("--%1 %2 is no date or time (e.g. 2026-12-07 or 2026-12-07T14:30)")
                                     .arg(option->names().constFirst(), p.value(*option)));
        *target = *when;
    }
    if (!p.isSet(baselineFrom) && !p.isSet(baselineTo)) {
        const auto [first, last] = storedBaseline();
        if (first.isValid())
            options.baselineFrom = first.startOfDay();
        if (last.isValid())
            options.baselineTo = last.addDays(1).startOfDay();
    }
    for (const QCommandLineOption* o : {&csvOption, &pdfOption})
        if (p.isSet(*o) && p.value(*o).isEmpty())
            return cp.usage(err, QStringLiteral("--%1 needs a file name").arg(o->names().constFirst()));
    if (p.isSet(pdfOption) && p.value(pdfOption) == QLatin1String("-"))
        return cp.usage(err, QStringLiteral("--pdf needs a file name, not standard output"));

    records::RecordStore store;
    QString why;
    if (store.open(cp.storePath(), records::RecordStore::OpenMode::ReadOnly, &why) != records::RecordStore::OpenError::None) {
        err << "kalvor-batch: " << printableText(why) << Qt::endl;
        return exitcode::StoreError;
    }
    const QcData data = readQc(store, options);
    const bool csvToStdout = p.value(csvOption) == QLatin1String("-");
    if (!csvToStdout)
        out << terminalText(qcText(data));
    int status = exitcode::Ok;
    if (p.isSet(csvOption)) {
        const QByteArray bytes = qcCsv(data);
        if (csvToStdout) {
            out.flush();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
        } else {
            QSaveFile f(p.value(csvOption));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
                err << "kalvor-batch qc: cannot write " << printableText(p.value(csvOption)) << ": " << f.errorString() << Qt::endl;
                status = exitcode::Failed;
            } else {
                out << '\n'
                    << printableText(QStringLiteral("%1 filter results written to %2").arg(data.results.size()).arg(p.value(csvOption)))
                    << Qt::endl;
            }
        }
    }
    if (p.isSet(pdfOption)) {
        if (!qcPdfWriter()) {
            err << "kalvor-batch qc: this program cannot draw PDF reports" << Qt::endl;
            return exitcode::Failed;
        }
        if (!qcPdfWriter()(data, p.value(pdfOption), &why)) {
            err << "kalvor-batch qc: " << printableText(why) << Qt::endl;
            status = exitcode::Failed;
        } else if (!csvToStdout) {
            out << printableText(QStringLiteral("The report is written to %1").arg(p.value(pdfOption))) << Qt::endl;
        }
    }
    out.flush();
    return status;
}

} // namespace kalvor::batch
