#include "records/CsvExport.h"

#include "records/Csv.h"
#include "records/CurrentRecords.h"
#include "records/PrintableText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kalvor::records {

namespace {

QString optionalNumber(const std::optional<qint64>& v) { return v ? QString::number(*v) : QString(); }

QString headText(const ChainHead& head)
{
    return QStringLiteral("chain head row %1, hash %2").arg(head.rows).arg(QString::fromLatin1(head.hash));
}

// A word for a POSIX shell, in single quotes when it needs them.
QString shellWord(const QString& text)
{
    static const QString plain = QStringLiteral("-_./:=@%+,");
    bool quote = text.isEmpty();
    for (QChar c : text)
        quote = quote || (!(c.isLetterOrNumber() && c.unicode() < 0x80) && !plain.contains(c));
    if (!quote)
        return text;
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

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
        QStringLiteral("trigger"),       QStringLiteral("repeats"),         QStringLiteral("corrects"),
        QStringLiteral("current"),       QStringLiteral("supersedes"),      QStringLiteral("reason"),
        QStringLiteral("thickness_mm"),  QStringLiteral("dose_kGy"),        QStringLiteral("u_c_kGy"),
        QStringLiteral("U_kGy"),         QStringLiteral("calibration"),     QStringLiteral("decision"),
        QStringLiteral("flags"),         QStringLiteral("position")};
    return header;
}

std::optional<ExportData> readExport(const RecordStore& store, const ExportSelection& sel, QString* why)
{
    ExportData data;
    data.storePath = store.location().display();
    data.selection = sel;
    data.timeUtc = utcNow();
    const ReadSnapshot snapshot(store);
    if (!sel.batchName.isEmpty()) {
        const std::optional<BatchRecord> b = store.batchNamed(sel.batchName);
        if (!b) {
            *why = QStringLiteral("there is no batch named %1").arg(sel.batchName);
            return std::nullopt;
        }
        data.readings = store.readings(b->seq);
        data.readings.removeIf([&](const ReadingRecord& r) {
            const QDateTime t = QDateTime::fromString(r.timeUtc, Qt::ISODateWithMs);
            return (sel.from.isValid() && t < sel.from) || (sel.to.isValid() && t >= sel.to);
        });
    } else {
        data.readings = store.readingsBetween(sel.from, sel.to);
    }
    // Whether a reading is current depends on every later reading of its
    // batch, inside the selection or not.
    QSet<qint64> superseded;
    for (const ReadingRecord& r : std::as_const(data.readings)) {
        if (data.batches.contains(r.batch))
            continue;
        data.batches.insert(r.batch, store.batch(r.batch).value_or(BatchRecord{}));
        superseded.unite(supersededReadings(store.readings(r.batch)));
        data.doses.insert(currentDoses(store, r.batch));
    }
    for (const ReadingRecord& r : std::as_const(data.readings))
        data.current << !superseded.contains(r.seq);
    data.head = store.head();
    return data;
}

namespace {
// thickness_mm .. flags: the thickness the dose used (or the film's own), and the dose with its uncertainty.
QStringList doseFields(const ReadingRecord& r, const DoseRecord& d)
{
    if (d.seq == 0)
        return {r.thicknessMm ? csv::number(*r.thicknessMm) : QString(), {}, {}, {}, {}, {}, {}};
    return {csv::number(d.thicknessMm),
            d.doseKGy ? csv::number(*d.doseKGy) : QString(),
            d.doseKGy ? csv::number(d.uc) : QString(),
            d.doseKGy ? csv::number(d.expanded) : QString(),
            QString::number(d.calibration),
            d.decision,
            d.flags.join(QStringLiteral("; "))};
}
} // namespace

QByteArray csvText(const ExportData& data, bool raw)
{
    auto line = [raw](QStringList fields) {
        if (!raw)
            for (QString& f : fields)
                f = csv::neutralised(f);
        return csv::record(fields);
    };
    QByteArray out = line(exportHeader());
    for (qsizetype i = 0; i < data.readings.size(); ++i) {
        const ReadingRecord& r = data.readings[i];
        const BatchRecord& b = data.batches[r.batch];
        const bool measured = !r.isVoid();
        QStringList fields{QString::number(r.seq), b.name, b.lot, r.dosimeterId, r.timeUtc, r.shown,
                     r.absorbance ? csv::number(*r.absorbance) : QString(),
                     measured ? csv::number(r.spread) : QString(), measured ? QString::number(r.count) : QString(),
                     r.wavelength, r.zero, r.zeroUtc, r.readerModel, r.readerSerial, r.readerGain, r.status,
                     r.operatorName, r.programVersion, r.trigger, optionalNumber(r.repeats), optionalNumber(r.corrects),
                     data.current.value(i) ? QStringLiteral("1") : QStringLiteral("0"), optionalNumber(r.supersedes),
                     r.reason};
        fields << doseFields(r, data.doses.value(r.seq)) << r.position;
        out += line(fields);
    }
    return out;
}

QByteArray chainFileText(const ExportData& data, const QString& csvPath, const QByteArray& csv,
                         const ExportOptions& options)
{
    const QString hash = QString::fromLatin1(data.head.hash);
    QStringList lines{
        QStringLiteral("# The state of the KALVOR record store that %1 was exported from.")
            .arg(printable(QFileInfo(csvPath).fileName())),
        QStringLiteral("# Check the store against it later with the command below: it fails when the store"),
        QStringLiteral("# was cut short or its rows re-hashed since."),
        QStringLiteral("csv: %1").arg(printable(QFileInfo(csvPath).fileName())),
        QStringLiteral("csv_sha256: %1").arg(QString::fromLatin1(QCryptographicHash::hash(csv, QCryptographicHash::Sha256).toHex())),
        QStringLiteral("readings: %1").arg(data.readings.size()),
        QStringLiteral("selection: %1").arg(printable(data.selection.describe())),
        QStringLiteral("cells: %1").arg(options.raw ? QStringLiteral("raw") : QStringLiteral("formula-like text neutralised")),
        QStringLiteral("store: %1").arg(printable(data.storePath)),
        QStringLiteral("exported_utc: %1").arg(data.timeUtc),
        QStringLiteral("operator: %1").arg(printable(options.operatorName)),
        QStringLiteral("program_version: %1").arg(QStringLiteral(KALVOR_VERSION)),
        QStringLiteral("chain_rows: %1").arg(data.head.rows),
        QStringLiteral("chain_last_hash: %1").arg(hash),
        QStringLiteral("check: kalvor-batch verify --store %1 --expect %2 --at %3")
            .arg(printable(shellWord(data.storePath)), hash)
            .arg(data.head.rows),
    };
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

bool writeExport(const ExportData& data, const QString& csvPath, const ExportOptions& options, QString* why)
{
    const QByteArray csv = csvText(data, options.raw);
    if (csvPath == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(csv) != csv.size() || !out.flush()) {
            *why = QStringLiteral("cannot write to standard output: %1").arg(out.errorString());
            return false;
        }
        return true;
    }
    auto writeWhole = [why](const QString& path, const QByteArray& bytes) {
        QSaveFile out(path);
        if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
            return true;
        *why = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
        return false;
    };
    if (!writeWhole(csvPath, csv))
        return false;
    const QString chainPath = csvPath + QStringLiteral(".chain");
    if (!writeWhole(chainPath, chainFileText(data, csvPath, csv, options))) {
        QFile::remove(chainPath);  // the one of an earlier export would name another state
        *why = QStringLiteral("%1 is written, but not its chain file: %2").arg(csvPath, *why);
        return false;
    }
    return true;
}

namespace {

EventRecord exportEvent(const ExportData& data, const QString& csvPath, const QString& operatorName)
{
    EventRecord e;
    e.timeUtc = utcNow();
    e.kind = event::Export;
    if (!data.selection.batchName.isEmpty())
        for (const BatchRecord& b : data.batches)
            if (b.name == data.selection.batchName)
                e.batch = b.seq;
    e.detail = QStringLiteral("%1 readings of %2 to %3; %4")
                   .arg(data.readings.size())
                   .arg(data.selection.describe(),
                        csvPath == QLatin1String("-") ? QStringLiteral("standard output")
                                                      : QFileInfo(csvPath).absoluteFilePath(),
                        headText(data.head));
    e.operatorName = operatorName;
    e.programVersion = QStringLiteral(KALVOR_VERSION);
    return e;
}

} // namespace

Recorded recordExport(RecordStore& store, const ExportData& data, const QString& csvPath,
                      const QString& operatorName, QString* why)
{
    if (store.isReadOnly())
        return recordExport(store.path(), data, csvPath, operatorName, why);
    QString appendWhy;
    if (!store.appendEvent(exportEvent(data, csvPath, operatorName), &appendWhy)) {
        *why = QStringLiteral("the export could not be recorded: %1").arg(appendWhy);
        return Recorded::Failed;
    }
    return Recorded::Yes;
}

Recorded recordExport(const QString& storePath, const ExportData& data, const QString& csvPath,
                      const QString& operatorName, QString* why)
{
    QString readOnly;
    if (!RecordStore::appendAllowedAt(storePath, &readOnly)) {
        *why = QStringLiteral("%1 is read-only (%2): the export is not recorded in it").arg(storePath, readOnly);
        return Recorded::ReadOnlyStore;
    }
    RecordStore writer;
    QString openWhy;
    if (writer.open(storePath, RecordStore::OpenMode::ExistingOnly, &openWhy) != RecordStore::OpenError::None) {
        *why = QStringLiteral("the export could not be recorded: %1").arg(openWhy);
        return Recorded::Failed;
    }
    return recordExport(writer, data, csvPath, operatorName, why);
}

std::optional<int> exportReadingsCsv(RecordStore& store, const ExportSelection& selection, const QString& path,
                                     const QString& operatorName, QString* why)
{
    const std::optional<ExportData> data = readExport(store, selection, why);
    ExportOptions options;
    options.operatorName = operatorName;
    if (!data || !writeExport(*data, path, options, why))
        return std::nullopt;
    if (recordExport(store, *data, path, operatorName, why) != Recorded::Yes) {
        *why = QStringLiteral("the file is written, but %1").arg(*why);
        return std::nullopt;
    }
    return int(data->readings.size());
}

} // namespace kalvor::records
