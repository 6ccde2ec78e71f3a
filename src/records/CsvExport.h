#pragma once
// The readings of a batch or of a time range as CSV (RFC 4180, UTF-8, a
// header row, numbers with a decimal point whatever the locale), with the
// chain head they were read from: in a chain file beside the CSV
// (FILE.chain) and in the export event of the store's audit trail.
//
// An export reads (readExport), writes (writeExport) and records
// (recordExport), so that a read-only store is read without a write and a
// read can be repeated when the file changed under it (RecordStore::
// changedSinceOpen). exportReadingsCsv does all three on a store open for
// writing, as the window has it.
#include "records/Doses.h"
#include "records/RecordStore.h"

#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::records {

struct ExportSelection {
    QString batchName;  // empty: every batch
    QDateTime from;     // invalid: open
    QDateTime to;       // exclusive; invalid: open

    QString describe() const;
};

// The columns, in order: those of the first version, then current,
// supersedes and reason.
const QStringList& exportHeader();

struct ExportOptions {
    QString operatorName;  // for the export event
    bool raw = false;      // cells exactly as stored, formula-like ones too (csv::neutralised)
};

// The selected readings and the state of the store they were read from.
struct ExportData {
    QString storePath;
    ExportSelection selection;
    QList<ReadingRecord> readings;
    QList<bool> current;  // for each reading (CurrentRecords.h)
    QHash<qint64, BatchRecord> batches;
    QHash<qint64, DoseRecord> doses;  // the current dose of each reading that has one
    ChainHead head;
    QString timeUtc;  // when it was read
};

// Reads in one state of the store; nothing when the batch is unknown.
std::optional<ExportData> readExport(const RecordStore& store, const ExportSelection& selection, QString* why);

// The CSV, header and one record per reading.
QByteArray csvText(const ExportData& data, bool raw);

// The chain file of a CSV: where it came from and the chain head, with the
// command that checks the store against that head later.
QByteArray chainFileText(const ExportData& data, const QString& csvPath, const QByteArray& csv,
                         const ExportOptions& options);

// Writes the CSV whole or not at all ("-" is standard output), and then its
// chain file beside it, `csvPath` + ".chain" (not for standard output).
bool writeExport(const ExportData& data, const QString& csvPath, const ExportOptions& options, QString* why);

enum class Recorded { Yes, ReadOnlyStore, Failed };
// The export event, with the chain head, in the store's audit trail: in
// `store` when it is open for writing, else in its file when this user may
// write it. ReadOnlyStore: the store cannot be written (`why` says why), the
// export stands without its event.
Recorded recordExport(RecordStore& store, const ExportData& data, const QString& csvPath,
                      const QString& operatorName, QString* why);
// The same in the store at `storePath`, opened for writing only when this
// user may write it.
Recorded recordExport(const QString& storePath, const ExportData& data, const QString& csvPath,
                      const QString& operatorName, QString* why);

// All three on a store open for writing; the number of readings written.
std::optional<int> exportReadingsCsv(RecordStore& store, const ExportSelection& selection,
                                     const QString& path, const QString& operatorName, QString* why);

} // namespace kalvor::records
