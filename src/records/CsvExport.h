#pragma once
// The readings of a batch or of a time range as CSV (RFC 4180, UTF-8, a
// header row, numbers with a decimal point whatever the locale).
#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::records {

class RecordStore;

struct ExportSelection {
    QString batchName;  // empty: every batch
    QDateTime from;     // invalid: open
    QDateTime to;       // exclusive; invalid: open

    QString describe() const;
};

const QStringList& exportHeader();

// Writes the header and one record per reading; the number of readings
// written, or nothing with the reason (an unknown batch, a write error).
std::optional<int> writeReadingsCsv(const RecordStore& store, const ExportSelection& selection,
                                    QIODevice* out, QString* why);

// The same into a file, written whole or not at all ("-" is standard
// output), and an export event in the store's audit trail.
std::optional<int> exportReadingsCsv(RecordStore& store, const ExportSelection& selection,
                                     const QString& path, const QString& operatorName, QString* why);

} // namespace kalvor::records
