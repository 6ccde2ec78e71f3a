#pragma once
// What a record store of a schema version must hold besides its rows: every
// table with its columns (name and type), the triggers that refuse UPDATE and
// DELETE (and, on PostgreSQL, TRUNCATE), enabled and calling what they
// should, and the indexes. A dropped or disabled trigger leaves the rows open
// to quiet edits; a column the version does not have holds content the hash
// chain does not cover. The catalogue is read through the store's back end
// (StoreBackend.h); what is checked is the same for both.
#include <QStringList>

namespace kalvor::records {

class RecordStore;

// One line per thing missing or different; empty when the store is whole.
QStringList schemaProblems(const RecordStore& store, int version);

} // namespace kalvor::records
