#pragma once
// Which record of a dosimeter is current. Rows are never changed, so a
// re-read, a correction or a void is a new row that names the row it
// replaces (in repeats, corrects or supersedes); a row that a later row of
// the same batch names is superseded, every other row is current.
#include "records/Records.h"

#include <QHash>
#include <QList>

namespace kalvor::records {

// The superseded rows among `readings` (the rows of one batch), each with the
// later row that replaced it.
QHash<qint64, qint64> supersededReadings(const QList<ReadingRecord>& readings);

} // namespace kalvor::records
