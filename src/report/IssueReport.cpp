#include "report/IssueReport.h"

#include "report/PdfReport.h"

#include <QCryptographicHash>
#include <QSaveFile>

namespace kalvor::report {

using namespace kalvor::batch;
using namespace kalvor::records;

std::optional<WrittenReport> writeReport(const ReportData& data, const QString& path, const QPageSize& pageSize,
                                         const QString& issuedBy, QString* why)
{
    const RenderedReport rendered = renderReport(data, pageSize);
    QSaveFile file(path);
    if (rendered.pdf.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(rendered.pdf) != rendered.pdf.size()
        || !file.commit()) {
        *why = QStringLiteral("cannot write %1: %2")
                   .arg(path, rendered.pdf.isEmpty() ? QStringLiteral("the PDF could not be made") : file.errorString());
        return std::nullopt;
    }
    WrittenReport out;
    out.pages = rendered.pages;
    out.sha256 = QCryptographicHash::hash(rendered.pdf, QCryptographicHash::Sha256).toHex();
    out.event = reportEvent(data, path, out.sha256, rendered.pages, issuedBy);
    return out;
}

std::optional<WrittenReport> issueReport(RecordStore& store, const QString& batchName, const QString& path,
                                         const LabDetails& lab, const QString& issuedBy, QString* why)
{
    std::optional<ReportData> data = readReport(store, batchName, why);
    if (!data)
        return std::nullopt;
    data->lab = lab;
    data->issuedBy = issuedBy;
    std::optional<WrittenReport> written = writeReport(*data, path, pageSizeFor(QLocale::system()), issuedBy, why);
    if (!written)
        return std::nullopt;
    if (recordReport(store, written->event, why) != Recorded::Yes) {
        *why = QStringLiteral("%1 is written, but %2").arg(path, *why);
        return std::nullopt;
    }
    return written;
}

} // namespace kalvor::report
