#pragma once
// Checks a record store as a whole: SQLite's own integrity check of a file
// (a PostgreSQL server keeps its own pages; integrityText says so), the
// schema its version must have (SchemaCheck.h), then every row in the order
// it was written, against the hash chain; reports the first row that breaks
// it. The rows are read a page at a time, so memory stays flat in the
// store's size.
// Given a chain head kept from before (a hash, and the row it belonged to),
// it also says whether the store still leads to it: the chain alone cannot
// show a store cut short at its end, or one whose hashes were all recomputed
// after an edit.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::records {

class RecordStore;

struct KeptHead {
    QByteArray hash;            // 64 hex digits
    std::optional<qint64> row;  // nothing: the store's last row
};

struct ChainReport {
    bool integrityOk = false;
    QString integrityText;  // "ok", or what SQLite found; on a server, what stands in for the check
    int schemaVersion = 0;
    QStringList schemaProblems;  // see SchemaCheck.h
    qint64 rows = 0;        // rows checked before the first break
    QByteArray lastHash;    // of the last row, when the chain holds

    struct Break {
        qint64 seq = 0;      // the row named
        QString table;       // its table (empty when the row is missing)
        QString what;        // e.g. "its content does not match its hash"
    };
    std::optional<Break> firstBreak;

    // The kept head against the chain, when one was given and the chain holds.
    struct HeadCheck {
        enum class Result {
            Matches,    // the row has the hash
            Grown,      // no row was given and the hash is an earlier row's: rows were added since
            Truncated,  // the store ends before the row
            Rehashed,   // the row is there with another hash
            Unknown,    // no row was given and no row has the hash
        };
        Result result = Result::Unknown;
        qint64 row = 0;      // the row checked (the last one when none was given)
        qint64 foundAt = 0;  // Grown: the row that has the hash
        QByteArray actual;   // Rehashed: the row's hash
    };
    std::optional<HeadCheck> head;

    bool ok() const
    {
        return integrityOk && schemaProblems.isEmpty() && !firstBreak
               && (!head || head->result == HeadCheck::Result::Matches);
    }
    // One line each for people: what is wrong, or "chain intact: 152 rows, last hash ...".
    QStringList lines() const;
    QString summary() const { return lines().join(QStringLiteral("; ")); }
};

ChainReport verifyChain(const RecordStore& store, const std::optional<KeptHead>& kept = std::nullopt);

} // namespace kalvor::records
