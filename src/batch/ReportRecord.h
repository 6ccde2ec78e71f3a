#pragma once
// An issued report in the store's audit trail, and the check of a report
// file against it. The report event names the file, the SHA-256 of its
// bytes and the chain head the report was made from:
//   report of batch prod (20 dosimeters, 3 pages) to /home/ann/prod.pdf;
//   sha256 3a1f...; chain head row 1234, hash 5f0c...
// A file is the one that was issued when its SHA-256 is in such an event; the
// store still holds every row it was made from when the chain, intact, still
// leads to that head (as verify --expect HASH --at ROW checks it).
#include "batch/ReportData.h"
#include "records/ChainVerifier.h"
#include "records/CsvExport.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kalvor::batch {

struct IssuedReport {
    qint64 event = 0;  // the event's row
    QString timeUtc;
    QString operatorName;
    std::optional<qint64> batch;
    QString file;
    QByteArray sha256;  // 64 hex digits
    records::ChainHead head;
};

records::EventRecord reportEvent(const ReportData& data, const QString& path, const QByteArray& sha256Hex, int pages,
                                 const QString& operatorName);
// The report event of a report written to `path`, in the store (the same
// cases as an export's event: records::Recorded).
records::Recorded recordReport(records::RecordStore& store, const records::EventRecord& event, QString* why);
records::Recorded recordReport(const QString& storePath, const records::EventRecord& event, QString* why);
// The report an event names; nothing for another event, or one whose text is not a report's.
std::optional<IssuedReport> issuedReport(const records::EventRecord& event);

struct ReportCheck {
    enum class Result {
        Issued,          // the file was issued and the store still leads to its head
        NotIssued,       // no report event has the file's SHA-256
        StoreChanged,    // issued, but the store no longer holds every row it was made from
    };
    Result result = Result::NotIssued;
    QByteArray sha256;  // of the file
    std::optional<IssuedReport> issued;
    records::ChainReport chain;  // against the issued report's head

    bool ok() const { return result == Result::Issued; }
    // One sentence for people, naming `file`.
    QString text(const QString& file) const;
};

ReportCheck checkReport(const records::RecordStore& store, const QByteArray& fileBytes);

} // namespace kalvor::batch
