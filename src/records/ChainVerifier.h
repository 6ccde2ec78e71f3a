#pragma once
// Checks a record store as a whole: SQLite's own integrity check, then every
// row in the order it was written, against the hash chain. Reports the first
// row that breaks it.
#include <QByteArray>
#include <QString>
#include <optional>

namespace kalvor::records {

class RecordStore;

struct ChainReport {
    bool integrityOk = false;
    QString integrityText;  // "ok", or what SQLite found
    qint64 rows = 0;        // rows checked before the first break
    QByteArray lastHash;    // of the last row, when the chain holds

    struct Break {
        qint64 seq = 0;      // the row named
        QString table;       // its table (empty when the row is missing)
        QString what;        // e.g. "its content does not match its hash"
    };
    std::optional<Break> firstBreak;

    bool ok() const { return integrityOk && !firstBreak; }
    // One line for people: "chain intact: 152 rows, last hash ..." or the break.
    QString summary() const;
};

ChainReport verifyChain(const RecordStore& store);

} // namespace kalvor::records
