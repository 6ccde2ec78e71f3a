// kalvor-batch report --batch NAME --pdf FILE [--lab-name TEXT] [--lab-address TEXT]
//                     [--operator WHO] [--paper a4|letter]
// Reads the batch from the store (read-only, again when it changed while it
// was read), writes its report and records the report's SHA-256 with the
// chain head it was made from. Exit status: 0 written and recorded (or
// written on a store that cannot be written, with a warning), 1 no such
// batch or not written or not recorded, 2 usage, 4 the store cannot be opened.
#include "report/ReportCommand.h"

#include "batch/BatchSettings.h"
#include "batch/CommandLine.h"
#include "core/PrintableText.h"
#include "report/IssueReport.h"
#include "report/PdfReport.h"
#include "report/ReportHtml.h"

namespace kalvor::report {

using namespace kalvor::batch;
using namespace kalvor::records;

int runReport(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("report"),
                     QStringLiteral("Writes a batch's report as a PDF for the laboratory's records: the laboratory, batch, lot,\n"
                                    "reader and irradiation; the calibration with its curve and approval; each dosimeter's\n"
                                    "current record with its dose, U and decision (superseded and void records apart); the\n"
                                    "dose map's summary; the uncertainty budget of a typical reading; the decision rule; and\n"
                                    "the chain head of the store it was made from. A batch without doses gives an absorbance\n"
                                    "report. The report's SHA-256 is recorded in the store: verify --report FILE checks a\n"
                                    "file against it."));
    const QCommandLineOption batch(QStringLiteral("batch"), QStringLiteral("The batch to report."), QStringLiteral("NAME"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("The PDF file to write."), QStringLiteral("FILE"));
    const QCommandLineOption labName(QStringLiteral("lab-name"),
                                     QStringLiteral("The laboratory's name (default: [Report] LabName in kalvor-batch.conf)."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption labAddress(QStringLiteral("lab-address"),
                                        QStringLiteral("Its address, lines separated by \\n (default: [Report] LabAddress)."),
                                        QStringLiteral("TEXT"));
    const QCommandLineOption who(QStringLiteral("operator"), QStringLiteral("Who issues the report (default: the login name)."),
                                 QStringLiteral("WHO"));
    const QCommandLineOption paper(QStringLiteral("paper"),
                                   QStringLiteral("a4 or letter (default: letter where the locale measures in inches or is "
                                                  "of the US or Canada, else a4)."),
                                   QStringLiteral("SIZE"));
    for (const QCommandLineOption* o : {&batch, &pdf, &labName, &labAddress, &who, &paper})
        cp.add(*o);
    if (const std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    const QCommandLineParser& p = cp.parser();
    if (!p.positionalArguments().isEmpty())
        return cp.usage(err, QStringLiteral("report takes no further arguments: %1").arg(p.positionalArguments().join(' ')));
    if (p.value(batch).trimmed().isEmpty() || p.value(pdf).isEmpty())
        return cp.usage(err, QStringLiteral("report needs --batch NAME and --pdf FILE"));
    QPageSize pageSize = pageSizeFor(QLocale::system());
    if (p.isSet(paper)) {
        const QString size = p.value(paper).trimmed().toLower();
        if (size != QLatin1String("a4") && size != QLatin1String("letter"))
            return cp.usage(err, QStringLiteral("--paper takes a4 or letter"));
        pageSize = QPageSize(size == QLatin1String("a4") ? QPageSize::A4 : QPageSize::Letter);
    }
    const QString issuedBy = p.isSet(who) ? p.value(who).trimmed() : BatchSession::loginName();
    if (const QString problem = BatchSession::nameProblem(QStringLiteral("operator's name"), issuedBy); !problem.isEmpty())
        return cp.usage(err, problem);
    LabDetails lab{p.isSet(labName) ? p.value(labName).trimmed() : BatchSettings::labName(),
                   p.isSet(labAddress) ? p.value(labAddress).trimmed() : BatchSettings::labAddress()};
    lab.address.replace(QStringLiteral("\\n"), QStringLiteral("\n"));

    std::optional<ReportData> data;
    const int read = withReadOnlyStore(cp.storePath(), err, [&](RecordStore& store) -> std::optional<int> {
        QString why;
        data = readReport(store, p.value(batch).trimmed(), &why);
        if (data)
            return std::nullopt;
        err << "kalvor-batch report: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    });
    if (read != exitcode::Ok)
        return read;
    data->lab = lab;
    data->issuedBy = issuedBy;
    QString why;
    const std::optional<WrittenReport> written = writeReport(*data, p.value(pdf), pageSize, issuedBy, &why);
    if (!written) {
        err << "kalvor-batch report: " << terminalText(why) << Qt::endl;
        return exitcode::Failed;
    }
    out << terminalText(QStringLiteral("%1 of batch %2 (%3, %4) written to %5; SHA-256 %6; made from chain head row "
                                       "%7, hash %8")
                            .arg(reportTitle(*data), data->batch.name,
                                 counted(data->rows.size() + data->voided.size(), QStringLiteral("dosimeter")),
                                 counted(written->pages, QStringLiteral("page")), p.value(pdf),
                                 QString::fromLatin1(written->sha256))
                            .arg(data->head.rows)
                            .arg(QString::fromLatin1(data->head.hash)))
        << Qt::endl;
    switch (recordReport(cp.storePath(), written->event, &why)) {
    case Recorded::Yes:
        return exitcode::Ok;
    case Recorded::ReadOnlyStore:
        err << "kalvor-batch report: warning: " << terminalText(why) << Qt::endl;
        return exitcode::Ok;
    case Recorded::Failed:
        break;
    }
    err << "kalvor-batch report: the report is written, but " << terminalText(why) << Qt::endl;
    return exitcode::Failed;
}

Subcommand reportCommand()
{
    return {"report", "writes a batch's report as a PDF and records it in the store (see report --help)", runReport, true};
}

} // namespace kalvor::report
