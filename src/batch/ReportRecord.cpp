#include "batch/ReportRecord.h"

#include "records/StoreFile.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>

namespace kalvor::batch {

using namespace kalvor::records;

EventRecord reportEvent(const ReportData& data, const QString& path, const QByteArray& sha256Hex, int pages,
                        const QString& operatorName)
{
    EventRecord e;
    e.timeUtc = utcNow();
    e.kind = event::Report;
    e.batch = data.batch.seq;
    e.detail = QStringLiteral("report of batch %1 (%2, %3) to %4; sha256 %5; chain head row %6, hash %7")
                   .arg(data.batch.name, counted(data.rows.size() + data.voided.size(), QStringLiteral("dosimeter")),
                        counted(pages, QStringLiteral("page")), QFileInfo(path).absoluteFilePath(),
                        QString::fromLatin1(sha256Hex))
                   .arg(data.head.rows)
                   .arg(QString::fromLatin1(data.head.hash));
    e.operatorName = operatorName;
    e.programVersion = QStringLiteral(KALVOR_VERSION);
    return e;
}

Recorded recordReport(RecordStore& store, const EventRecord& event, QString* why)
{
    if (store.isReadOnly())
        return recordReport(store.path(), event, why);
    QString appendWhy;
    if (!store.appendEvent(event, &appendWhy)) {
        *why = QStringLiteral("the report could not be recorded: %1").arg(appendWhy);
        return Recorded::Failed;
    }
    return Recorded::Yes;
}

Recorded recordReport(const QString& storePath, const EventRecord& event, QString* why)
{
    QString readOnly;
    if (!storeWritable(storePath, &readOnly)) {
        *why = QStringLiteral("%1 is read-only (%2): the report is not recorded in it, so verify --report cannot "
                              "vouch for it")
                   .arg(storePath, readOnly);
        return Recorded::ReadOnlyStore;
    }
    RecordStore writer;
    QString openWhy;
    if (writer.open(storePath, RecordStore::OpenMode::ExistingOnly, &openWhy) != RecordStore::OpenError::None) {
        *why = QStringLiteral("the report could not be recorded: %1").arg(openWhy);
        return Recorded::Failed;
    }
    return recordReport(writer, event, why);
}

std::optional<IssuedReport> issuedReport(const EventRecord& e)
{
    // Read from the end: the file's name comes before and may hold anything.
    static const QRegularExpression tail(QStringLiteral(
        "^report of .* to (.*); sha256 ([0-9a-f]{64}); chain head row ([0-9]+), hash ([0-9a-f]{64})$"),
        QRegularExpression::DotMatchesEverythingOption);
    if (e.kind != event::Report)
        return std::nullopt;
    const QRegularExpressionMatch m = tail.match(e.detail);
    if (!m.hasMatch())
        return std::nullopt;
    IssuedReport r;
    r.event = e.seq;
    r.timeUtc = e.timeUtc;
    r.operatorName = e.operatorName;
    r.batch = e.batch;
    r.file = m.captured(1);
    r.sha256 = m.captured(2).toLatin1();
    r.head.rows = m.captured(3).toLongLong();
    r.head.hash = m.captured(4).toLatin1();
    return r;
}

ReportCheck checkReport(const RecordStore& store, const QByteArray& fileBytes)
{
    ReportCheck check;
    check.sha256 = QCryptographicHash::hash(fileBytes, QCryptographicHash::Sha256).toHex();
    {
        const ReadSnapshot snapshot(store);
        for (const EventRecord& e : store.events())
            if (const std::optional<IssuedReport> r = issuedReport(e); r && r->sha256 == check.sha256) {
                check.issued = r;
                break;
            }
    }
    if (!check.issued)
        return check;
    check.chain = verifyChain(store, KeptHead{check.issued->head.hash, check.issued->head.rows});
    check.result = check.chain.ok() ? ReportCheck::Result::Issued : ReportCheck::Result::StoreChanged;
    return check;
}

QString ReportCheck::text(const QString& file) const
{
    const QString sha = QString::fromLatin1(sha256);
    if (!issued)
        return QStringLiteral("%1 is not a report issued from this store: its SHA-256 %2 is in no report event "
                              "(a copy changed in any byte, or a report of another store)")
            .arg(file, sha);
    const QString which = QStringLiteral("%1 is the report issued %2 by %3 (its SHA-256 %4 is in the report event at "
                                         "row %5)")
                              .arg(file, issued->timeUtc, issued->operatorName, sha)
                              .arg(issued->event);
    if (result == Result::Issued)
        return QStringLiteral("%1, and the store still holds every row it was made from: the chain is intact and "
                              "row %2 has the hash %3 the report names")
            .arg(which)
            .arg(issued->head.rows)
            .arg(QString::fromLatin1(issued->head.hash));
    return QStringLiteral("%1, but the store no longer holds every row it was made from (chain head row %2, hash %3): %4")
        .arg(which)
        .arg(issued->head.rows)
        .arg(QString::fromLatin1(issued->head.hash), chain.summary());
}

} // namespace kalvor::batch
