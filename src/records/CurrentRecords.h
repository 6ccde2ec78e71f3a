#pragma once
// Which readings are current. Nothing is ever replaced in the store: a
// re-read, a correction or a record that supersedes another is a new row
// that names the old one. A reading is superseded when a later row of the
// same batch names it in `repeats`, `corrects` or `supersedes`; every other
// reading (a void record too) is current. The export's `current` column and
// the window's table both come from here.
#include "records/Records.h"

#include <QHash>
#include <QList>
#include <QSet>

namespace kalvor::records {

// The seqs of the readings that a later reading of the same batch in
// `readings` names. Pass every reading of the batches concerned: a row left
// out cannot supersede.
QSet<qint64> supersededReadings(const QList<ReadingRecord>& readings);
// The same, each with the later reading that superseded it (the last to name it).
QHash<qint64, qint64> supersededBy(const QList<ReadingRecord>& readings);

// For each of `readings`, in order: true when it is current.
QList<bool> currentFlags(const QList<ReadingRecord>& readings);

} // namespace kalvor::records
