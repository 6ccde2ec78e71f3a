#include "records/ChainVerifier.h"

#include "records/RecordSchema.h"
#include "records/RecordStore.h"
#include "records/SchemaCheck.h"

#include "records/TablePages.h"

#include <future>
#include <memory>
#include <vector>

namespace kalvor::records {

namespace {

QString describe(const TableSchema& table, const QVariantList& values)
{
    const int id = table.indexOf(QStringLiteral("dosimeter_id"));
    if (id >= 0)
        return QStringLiteral(" (dosimeter %1)").arg(values.value(id).toString());
    const int kind = table.indexOf(QStringLiteral("kind"));
    if (kind >= 0)
        return QStringLiteral(" (%1)").arg(values.value(kind).toString());
    const int name = table.indexOf(QStringLiteral("name"));
    if (name >= 0)
        return QStringLiteral(" (batch %1)").arg(values.value(name).toString());
    return {};
}

} // namespace

QStringList ChainReport::lines() const
{
    if (!integrityOk)
        return {QStringLiteral("the file fails SQLite's integrity check: %1").arg(integrityText)};
    // integrityText is "ok" for a file; on a server, what stands in for the check.
    QStringList out;
    for (const QString& problem : schemaProblems)
        out << QStringLiteral("schema of version %1: %2").arg(schemaVersion).arg(problem);
    if (firstBreak) {
        if (firstBreak->table.isEmpty())
            out << QStringLiteral("the record chain breaks at row %1: %2").arg(firstBreak->seq).arg(firstBreak->what);
        else
            out << QStringLiteral("the record chain breaks at row %1 of %2: %3")
                       .arg(firstBreak->seq)
                       .arg(firstBreak->table, firstBreak->what);
    }
    if (!out.isEmpty())
        return out;
    const QString intact = QStringLiteral("chain intact: %1 rows, last hash %2").arg(rows).arg(QString::fromLatin1(lastHash));
    if (!head)
        return {intact};
    using R = HeadCheck::Result;
    switch (head->result) {
    case R::Matches:
        return {intact + QStringLiteral("; row %1 has the kept hash").arg(head->row)};
    case R::Grown:
        return {QStringLiteral("the kept hash is that of row %1, not of the last row %2: %3 added after it "
                               "(--at %1 checks that head)")
                    .arg(head->foundAt)
                    .arg(rows)
                    .arg(rows - head->foundAt == 1 ? QStringLiteral("1 row was")
                                                   : QStringLiteral("%1 rows were").arg(rows - head->foundAt))};
    case R::Truncated:
        return {QStringLiteral("the store is cut short: it ends at row %1, the kept head is row %2").arg(rows).arg(head->row)};
    case R::Rehashed:
        return {QStringLiteral("the chain was re-hashed: row %1 has hash %2, not the kept one; the rows still chain up, "
                               "so their hashes were recomputed after an edit")
                    .arg(head->row)
                    .arg(QString::fromLatin1(head->actual))};
    case R::Unknown:
        break;
    }
    return {QStringLiteral("no row has the kept hash: the store was re-hashed or cut short after that head was kept, "
                           "or it is another store (--at ROW tells which)")};
}

ChainReport verifyChain(const RecordStore& store, const std::optional<KeptHead>& kept)
{
    ChainReport report;
    const ReadSnapshot snapshot(store);
    // The file's own check runs on a second connection while this one walks
    // the chain; when it fails, its finding is the whole report.
    store.backend().readAhead();
    auto integrity = std::async(std::launch::async, store.backend().integrityApart(store.database()));
    const auto integrityFirst = [&](ChainReport walked) {
        std::optional<StoreBackend::Integrity> found = integrity.get();
        if (!found)
            found = store.backend().integrity(store.database());
        if (found->ok) {
            walked.integrityOk = true;
            walked.integrityText = found->text;
            return walked;
        }
        ChainReport failed;
        failed.integrityText = found->text;
        return failed;
    };
    report.schemaVersion = store.schemaVersion();
    report.schemaProblems = schemaProblems(store, report.schemaVersion);

    // Every table in seq order, a page at a time, merged into the one order
    // in which the rows were written.
    std::vector<std::unique_ptr<TablePages>> cursors;
    for (const TableSchema& t : recordTables()) {
        if (t.since > report.schemaVersion)
            continue;
        auto c = std::make_unique<TablePages>(
            store, t, report.schemaVersion,
            TablePages::Options{.pageSize = 1000, .textAsBytes = true, .ownConnection = t.large});
        if (!c->error().isEmpty()) {
            report.firstBreak = ChainReport::Break{0, t.name, c->error()};
            return integrityFirst(report);
        }
        cursors.push_back(std::move(c));
    }

    // The rows are taken in order here while a second thread hashes the
    // rows taken before: each row's hash is computed from the hash stored in
    // the row before it, so that the rows of one lot are independent. They
    // are then checked in order, so the first row that fails is the one
    // named, as if each had been hashed in turn.
    QByteArray previous = genesisHash();       // the last hash checked
    QByteArray previousStored = genesisHash(); // the last hash taken
    qint64 expected = 1;
    QByteArray keptRowHash;
    std::optional<qint64> foundAt;  // the first row with the kept hash
    std::optional<ChainReport::Break> takingBreak;
    struct Taken {
        StoredRow row;
        const TableSchema* table = nullptr;
        QByteArray previous;  // the hash stored in the row before
        QByteArray computed;
    };
    using Lot = std::vector<Taken>;
    constexpr std::size_t kLot = 2048;
    auto hashAll = [](Lot& lot) {
        for (Taken& t : lot)
            t.computed = chainHash(t.previous, canonicalContent(*t.table, t.row.seq, t.row.values));
    };
    auto check = [&](const Lot& lot) {
        for (const Taken& t : lot) {
            if (t.computed != t.row.hash) {
                report.firstBreak = ChainReport::Break{t.row.seq, t.table->name + describe(*t.table, t.row.values),
                                                       QStringLiteral("its content does not match its hash "
                                                                      "(it was changed after it was written, or "
                                                                      "the row before it was re-hashed)")};
                return false;
            }
            previous = t.computed;
            if (kept && kept->row == t.row.seq)
                keptRowHash = t.computed;
            if (kept && !foundAt && t.computed == kept->hash)
                foundAt = t.row.seq;
            ++report.rows;
        }
        return true;
    };
    Lot taking, hashing;
    std::future<void> running;
    for (;;) {
        TablePages* next = nullptr;
        for (const auto& c : cursors)
            if (c->has() && (!next || c->row().seq < next->row().seq))
                next = c.get();
        if (!next)
            break;
        const StoredRow& row = next->row();
        const TableSchema& table = next->table();
        if (row.seq != expected) {
            takingBreak = row.seq > expected
                              ? ChainReport::Break{expected, QString(),
                                                   QStringLiteral("the row is missing (the next row is %1 of %2)")
                                                       .arg(row.seq)
                                                       .arg(table.name)}
                              : ChainReport::Break{row.seq, table.name + describe(table, row.values),
                                                   QStringLiteral("its number is used twice")};
            break;
        }
        taking.push_back(Taken{row, &table, previousStored, {}});
        previousStored = row.hash;
        ++expected;
        next->advance();
        if (!next->error().isEmpty()) {
            takingBreak = ChainReport::Break{expected, table.name, next->error()};
            break;
        }
        if (taking.size() == kLot) {
            if (running.valid()) {
                running.get();
                if (!check(hashing))
                    return integrityFirst(report);
            }
            hashing = std::move(taking);
            taking = Lot();
            taking.reserve(kLot);
            running = std::async(std::launch::async, [&hashing, &hashAll] { hashAll(hashing); });
        }
    }
    if (running.valid()) {
        running.get();
        if (!check(hashing))
            return integrityFirst(report);
    }
    hashAll(taking);
    if (!check(taking))
        return integrityFirst(report);
    if (takingBreak) {
        report.firstBreak = takingBreak;
        return integrityFirst(report);
    }
    report.lastHash = previous;
    if (kept) {
        using R = ChainReport::HeadCheck::Result;
        ChainReport::HeadCheck h;
        h.row = kept->row.value_or(report.rows);
        if (kept->row && *kept->row > report.rows) {
            h.result = R::Truncated;
        } else if (kept->row) {
            h.result = keptRowHash == kept->hash ? R::Matches : R::Rehashed;
            h.actual = keptRowHash;
        } else if (report.rows > 0 && report.lastHash == kept->hash) {
            h.result = R::Matches;
        } else if (foundAt) {
            h.result = R::Grown;
            h.foundAt = *foundAt;
        }
        report.head = h;
    }
    return integrityFirst(report);
}

} // namespace kalvor::records
