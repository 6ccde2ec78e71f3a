#include "records/CsvExport.h"

#include "records/Csv.h"
#include "records/RecordStore.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>

namespace kalvor::records {

namespace {
QString optionalNumber(const std::optional<qint64>& v) { return v ? QString::number(*v) : QString(); }
} // namespace

QString ExportSelection::describe() const
{
    QStringList parts;
    parts << (batchName.isEmpty() ? QStringLiteral("all batches") : QStringLiteral("batch %1").arg(batchName));
    if (from.isValid())
        parts << QStringLiteral("from %1").arg(from.toUTC().toString(Qt::ISODate));
    if (to.isValid())
        parts << QStringLiteral("before %1").arg(to.toUTC().toString(Qt::ISODate));
    return parts.join(QLatin1Char(' '));
}

const QStringList& exportHeader()
{
    static const QStringList header{
        QStringLiteral("record"),        QStringLiteral("batch"),           QStringLiteral("lot"),
        QStringLiteral("dosimeter_id"),  QStringLiteral("time_utc"),        QStringLiteral("absorbance_shown"),
        QStringLiteral("absorbance"),    QStringLiteral("spread"),          QStringLiteral("readings"),
        QStringLiteral("wavelength"),    QStringLiteral("zero"),            QStringLiteral("zero_time_utc"),
        QStringLiteral("reader_model"),  QStringLiteral("reader_serial"),   QStringLiteral("reader_gain"),
        QStringLiteral("status"),        QStringLiteral("operator"),        QStringLiteral("program_version"),
        QStringLiteral("trigger"),       QStringLiteral("repeats"),         QStringLiteral("corrects")};
    return header;
}

std::optional<int> writeReadingsCsv(const RecordStore& store, const ExportSelection& sel, QIODevice* out, QString* why)
{
    QList<ReadingRecord> rows;
    if (!sel.batchName.isEmpty()) {
        const std::optional<BatchRecord> b = store.batchNamed(sel.batchName);
        if (!b) {
            *why = QStringLiteral("there is no batch named %1").arg(sel.batchName);
            return std::nullopt;
        }
        rows = store.readings(b->seq);
        rows.removeIf([&](const ReadingRecord& r) {
            const QDateTime t = QDateTime::fromString(r.timeUtc, Qt::ISODateWithMs);
            return (sel.from.isValid() && t < sel.from) || (sel.to.isValid() && t >= sel.to);
        });
    } else {
        rows = store.readingsBetween(sel.from, sel.to);
    }
    QHash<qint64, BatchRecord> batches;
    auto write = [&](const QStringList& fields) {
        const QByteArray line = csv::record(fields);
        return out->write(line) == line.size();
    };
    bool ok = write(exportHeader());
    for (const ReadingRecord& r : std::as_const(rows)) {
        if (!batches.contains(r.batch))
            batches.insert(r.batch, store.batch(r.batch).value_or(BatchRecord{}));
        const BatchRecord& b = batches[r.batch];
        ok = ok
             && write({QString::number(r.seq), b.name, b.lot, r.dosimeterId, r.timeUtc, r.shown,
                       r.absorbance ? csv::number(*r.absorbance) : QString(), csv::number(r.spread), QString::number(r.count), r.wavelength,
                       r.zero, r.zeroUtc, r.readerModel, r.readerSerial, r.readerGain, r.status, r.operatorName,
                       r.programVersion, r.trigger, optionalNumber(r.repeats), optionalNumber(r.corrects)});
    }
    if (!ok) {
        *why = out->errorString();
        return std::nullopt;
    }
    return int(rows.size());
}

std::optional<int> exportReadingsCsv(RecordStore& store, const ExportSelection& sel, const QString& path,
                                     const QString& operatorName, QString* why)
{
    std::optional<int> rows;
    if (path == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            *why = out.errorString();
            return std::nullopt;
        }
        rows = writeReadingsCsv(store, sel, &out, why);
        out.flush();
    } else {
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly)) {
            *why = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
            return std::nullopt;
        }
        rows = writeReadingsCsv(store, sel, &out, why);
        if (!rows) {
            out.cancelWriting();
            return std::nullopt;
        }
        if (!out.commit()) {
            *why = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
            return std::nullopt;
        }
    }
    if (!rows)
        return std::nullopt;
    EventRecord e;
    e.timeUtc = utcNow();
    e.kind = event::Export;
    if (!sel.batchName.isEmpty())
        if (const std::optional<BatchRecord> b = store.batchNamed(sel.batchName))
            e.batch = b->seq;
    e.detail = QStringLiteral("%1 readings of %2 to %3").arg(*rows).arg(sel.describe(), path == QLatin1String("-") ? QStringLiteral("standard output") : path);
    e.operatorName = operatorName;
    e.programVersion = QStringLiteral(KALVOR_VERSION);
    QString eventWhy;
    if (!store.appendEvent(e, &eventWhy)) {
        *why = QStringLiteral("the file is written, but the export could not be recorded: %1").arg(eventWhy);
        return std::nullopt;
    }
    return rows;
}

} // namespace kalvor::records
