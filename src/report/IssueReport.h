#pragma once
// Issuing a batch report: the PDF written whole (or not at all), its SHA-256,
// and its report event for the store's audit trail (ReportRecord.h). The
// command reads a read-only store and records through its path; the window
// does all of it on its own store.
#include "batch/ReportRecord.h"

#include <QPageSize>
#include <optional>

namespace kalvor::report {

struct WrittenReport {
    int pages = 0;
    QByteArray sha256;  // 64 hex digits
    records::EventRecord event;
};

// Renders `data` and writes it to `path`; nothing, with the reason, when the
// file cannot be written (an earlier file of that name is then left as it was).
std::optional<WrittenReport> writeReport(const batch::ReportData& data, const QString& path, const QPageSize& pageSize,
                                         const QString& issuedBy, QString* why);

// Reads the batch from `store` (open for writing), writes the report and
// records it. Nothing, with the reason, when it could not be written or recorded.
std::optional<WrittenReport> issueReport(records::RecordStore& store, const QString& batchName, const QString& path,
                                         const batch::LabDetails& lab, const QString& issuedBy, QString* why);

} // namespace kalvor::report
