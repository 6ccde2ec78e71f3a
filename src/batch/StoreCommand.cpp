// kalvor-batch store copy --from STORE --to STORE
// kalvor-batch store init [--store STORE]
// copy moves a lab's records into another store, chain and all: the source
// must verify; every row goes over with its seq and hash as it was, into a
// store without rows (a new file, or a PostgreSQL database with no record
// rows yet); the target is verified after and must end at the source's
// chain head; then the copy is recorded in the target's audit trail.
// init makes the tables of a new store (or brings an older one to this
// version), for an administrator who lets the lab's accounts only append.
// Exit status: 0 done, 1 refused or failed, 2 usage, 4 a store cannot be opened.
#include "batch/CommandLine.h"
#include "batch/Subcommand.h"
#include "core/PrintableText.h"
#include "records/RecordStore.h"

#include <QElapsedTimer>

namespace kalvor::batch {

namespace {

int copy(const QString& from, const QString& to, QTextStream& out, QTextStream& err)
{
    RecordStore source;
    QString why;
    if (source.open(from, RecordStore::OpenMode::ReadOnly, &why) != RecordStore::OpenError::None) {
        err << "kalvor-batch: " << printableText(why) << Qt::endl;
        return exitcode::StoreError;
    }
    const ChainReport before = verifyChain(source);
    if (!before.ok()) {
        for (const QString& line : before.lines())
            err << "kalvor-batch: " << printableText(source.location().display()) << ": " << printableText(line) << Qt::endl;
        err << "kalvor-batch: the source does not verify; nothing was copied" << Qt::endl;
        return exitcode::Failed;
    }
    RecordStore target;
    if (std::optional<int> status = openStoreFor(target, to, true, err))
        return *status;
    QElapsedTimer clock;
    clock.start();
    if (!target.copyRowsFrom(source, {}, &why)) {
        err << "kalvor-batch: " << printableText(why) << Qt::endl;
        return exitcode::Failed;
    }
    const qint64 copyMs = clock.elapsed();
    const ChainReport after = verifyChain(target);
    const QString targetName = printableText(target.location().display());
    if (!after.ok() || after.rows != before.rows || after.lastHash != before.lastHash) {
        for (const QString& line : after.lines())
            err << "kalvor-batch: " << targetName << ": " << printableText(line) << Qt::endl;
        err << "kalvor-batch: the copy does not end at the source's chain head (row " << before.rows << ", hash "
            << before.lastHash << ")" << Qt::endl;
        return exitcode::Failed;
    }
    EventRecord e;
    e.timeUtc = utcNow();
    e.kind = event::StoreCopied;
    e.detail = QStringLiteral("rows 1 to %1 copied from %2; chain head row %1, hash %3")
                   .arg(before.rows)
                   .arg(source.location().display(), QString::fromLatin1(before.lastHash));
    e.operatorName = BatchSession::loginName();
    e.programVersion = QStringLiteral(KALVOR_VERSION);
    if (!target.appendEvent(e, &why))
        err << "kalvor-batch: warning: the copy is whole, but it could not be recorded in it: " << printableText(why) << Qt::endl;
    out << printableText(QStringLiteral("%1 rows copied from %2 to %3 in %4 s; %3 verifies: %5")
                             .arg(before.rows)
                             .arg(source.location().display(), target.location().display())
                             .arg(copyMs / 1000.0, 0, 'f', 1)
                             .arg(after.summary()))
        << Qt::endl;
    return exitcode::Ok;
}

int init(const QString& where, QTextStream& out, QTextStream& err)
{
    // Its version before, to say what the open did.
    int before = 0;
    {
        RecordStore existing;
        if (existing.open(where, RecordStore::OpenMode::ReadOnly, nullptr) == RecordStore::OpenError::None)
            before = existing.schemaVersion();
    }
    RecordStore store;
    if (std::optional<int> status = openStoreFor(store, where, true, err))
        return *status;
    const QString what = before == 0 ? QStringLiteral("made, version %1").arg(RecordStore::kSchemaVersion)
                         : before < RecordStore::kSchemaVersion
                             ? QStringLiteral("brought from version %1 to %2").arg(before).arg(RecordStore::kSchemaVersion)
                             : QStringLiteral("of version %1, as it was").arg(before);
    out << printableText(QStringLiteral("%1: record store %2; %3 rows").arg(store.location().display(), what).arg(store.lastSeq()))
        << Qt::endl;
    return exitcode::Ok;
}

} // namespace

int runStore(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    CommandParser cp(QStringLiteral("store"),
                     QStringLiteral(
                         "store copy --from STORE --to STORE: copies every row of a record store into a store that\n"
                         "has none (a new file, or a PostgreSQL database without record rows), each with its number\n"
                         "and hash as it was; the source must verify, and the copy is verified after.\n"
                         "store init [--store STORE]: makes a new store's tables, or brings an older store to this\n"
                         "version (for the store's owner, when the lab's accounts may only add rows).\n"
                         "A store is a file or postgresql://[user@]host[:port]/dbname[?sslmode=...].\n"
                         "Exit status: 0 done, 1 refused or failed, 2 usage error, 4 a store cannot be opened."));
    cp.parser().addPositionalArgument(QStringLiteral("action"), QStringLiteral("copy or init."), QStringLiteral("copy|init"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("copy: the store to copy."), QStringLiteral("STORE"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("copy: the store to copy into."), QStringLiteral("STORE"));
    cp.add(from);
    cp.add(to);
    if (std::optional<int> status = cp.parse(arguments, out, err))
        return *status;
    QCommandLineParser& p = cp.parser();
    const QStringList action = p.positionalArguments();
    if (action == QStringList{QStringLiteral("copy")}) {
        if (p.isSet(QStringLiteral("store")))
            return cp.usage(err, QStringLiteral("copy takes --from and --to, not --store"));
        if (p.value(from).isEmpty() || p.value(to).isEmpty())
            return cp.usage(err, QStringLiteral("copy needs --from STORE and --to STORE"));
        if (p.value(from) == p.value(to))
            return cp.usage(err, QStringLiteral("--from and --to name the same store"));
        return copy(p.value(from), p.value(to), out, err);
    }
    if (action == QStringList{QStringLiteral("init")}) {
        if (p.isSet(from) || p.isSet(to))
            return cp.usage(err, QStringLiteral("init takes --store, not --from or --to"));
        return init(cp.storePath(), out, err);
    }
    return cp.usage(err, action.isEmpty() ? QStringLiteral("copy or init?")
                                          : QStringLiteral("unknown action %1 (copy or init)").arg(action.join(QLatin1Char(' '))));
}

} // namespace kalvor::batch
