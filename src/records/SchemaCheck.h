#pragma once
// What a record store of a schema version must hold besides its rows: every
// table with its columns (name and type), the triggers that refuse UPDATE and
// DELETE, and the indexes. A dropped trigger leaves the rows open to quiet
// edits; a column the version does not have holds content the hash chain does
// not cover.
#include <QSqlDatabase>
#include <QStringList>

namespace kalvor::records {

// One line per thing missing or different; empty when the store is whole.
QStringList schemaProblems(const QSqlDatabase& db, int version);

} // namespace kalvor::records
