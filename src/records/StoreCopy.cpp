// RecordStore::copyRowsFrom: every row of another store as it is, in one
// transaction under the append lock, into a store that has no rows yet.
#include "records/RecordStore.h"

#include "records/TablePages.h"

namespace kalvor::records {

namespace {

// Rows per INSERT: one statement carries many rows, so that a server is
// asked once per page, not once per row.
constexpr int kRowsPerInsert = 200;

} // namespace

bool RecordStore::copyRowsFrom(const RecordStore& source, const std::function<void(qint64)>& progress, QString* why)
{
    if (!isOpen() || readOnly_ || !source.isOpen()) {
        *why = QStringLiteral("both stores must be open, the target for writing");
        return false;
    }
    const int version = source.schemaVersion();
    const ReadSnapshot snapshot(source);
    QString detail;
    if (!begin(backend_->beginAppend(), &detail)) {
        exec(QStringLiteral("ROLLBACK"), nullptr);
        *why = QStringLiteral("cannot write to %1: %2").arg(location_.display(), detail);
        return false;
    }
    auto fail = [&](const QString& text) {
        exec(QStringLiteral("ROLLBACK"), nullptr);
        *why = text;
        return false;
    };
    Tail tail;
    if (!readTail(&tail, &detail))
        return fail(QStringLiteral("cannot read %1: %2").arg(location_.display(), detail));
    if (tail.seq != 0)
        return fail(QStringLiteral("%1 already holds %2 rows: rows are copied with their numbers and hashes, "
                                   "which only a store without rows can take; nothing was copied")
                        .arg(location_.display())
                        .arg(tail.seq));
    qint64 copied = 0;
    for (const TableSchema& t : recordTables()) {
        if (t.since > version)
            continue;
        TablePages pages(source, t, version);
        QList<QVariantList> rows;
        auto flush = [&] {
            QSqlError error;
            if (!backend_->insert(database(), t, rows, &error)) {
                detail = backend_->errorText(error);
                return false;
            }
            copied += rows.size();
            rows.clear();
            if (progress)
                progress(copied);
            return true;
        };
        for (; pages.has(); pages.advance()) {
            const StoredRow& row = pages.row();
            rows.append(QVariantList{row.seq} + row.values + QVariantList{QString::fromLatin1(row.hash)});
            if (rows.size() == kRowsPerInsert && !flush())
                return fail(QStringLiteral("cannot copy rows of %1 into %2: %3").arg(t.name, location_.display(), detail));
        }
        if (!pages.error().isEmpty())
            return fail(QStringLiteral("cannot read %1 of %2: %3").arg(t.name, source.location().display(), pages.error()));
        if (!rows.isEmpty() && !flush())
            return fail(QStringLiteral("cannot copy rows of %1 into %2: %3").arg(t.name, location_.display(), detail));
    }
    if (!exec(QStringLiteral("COMMIT"), &detail))
        return fail(QStringLiteral("cannot commit the copy into %1: %2").arg(location_.display(), detail));
    return true;
}

} // namespace kalvor::records
