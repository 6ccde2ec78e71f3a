#include "records/RecordSchema.h"

#include <QCryptographicHash>
#include <QLocale>

#include <openssl/evp.h>

#include <charconv>

namespace kalvor::records {

namespace {

char typeLetter(ColumnType type)
{
    switch (type) {
    case ColumnType::Integer:
        return 'I';
    case ColumnType::Real:
        return 'R';
    case ColumnType::Text:
        break;
    }
    return 'T';
}

Column column(const char* name, ColumnType type, int since)
{
    return {QString::fromLatin1(name), type, since, QByteArray(name) + '=' + typeLetter(type)};
}
Column integer(const char* name, int since = 1) { return column(name, ColumnType::Integer, since); }
Column real(const char* name, int since = 1) { return column(name, ColumnType::Real, since); }
Column text(const char* name, int since = 1) { return column(name, ColumnType::Text, since); }

} // namespace

int TableSchema::indexOf(const QString& column) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].name == column)
            return i;
    return -1;
}

const QList<TableSchema>& recordTables()
{
    static const QList<TableSchema> tables{
        {QStringLiteral("batches"),
         {text("name"), text("operator"), text("lot"), text("id_prefix"), text("id_first"),
          text("opened_utc"), text("program_version")},
         1,
         {QStringLiteral("batches_name(name)")}},
        {QStringLiteral("readings"),
         {integer("batch"), text("dosimeter_id"), text("time_utc"), text("absorbance_shown"),
          real("absorbance"), real("spread"), integer("readings"), text("wavelength"), text("zero"),
          text("zero_utc"), text("reader_model"), text("reader_serial"), text("reader_gain"),
          text("status"), text("operator"), text("program_version"), text("trigger"),
          integer("repeats"), integer("corrects"),
          // Version 2: the row this one supersedes as the dosimeter's current
          // value, why, and the film's own thickness and position from the ID list.
          integer("supersedes", 2), text("reason", 2), real("thickness_mm", 2), text("position", 2)},
         1,
         {QStringLiteral("readings_batch(batch)"), QStringLiteral("readings_time(time_utc)")},
         true},
        {QStringLiteral("filter_checks"),
         {text("time_utc"), text("item"), text("filter"), text("value_shown"), real("value"),
          text("wavelength"), text("reader_model"), text("reader_serial"), text("reader_gain"),
          integer("batch"), text("operator"), text("program_version")},
         1,
         {}},
        {QStringLiteral("events"),
         {text("time_utc"), text("kind"), integer("batch"), integer("reading"), text("detail"),
          text("operator"), text("program_version")},
         1,
         {QStringLiteral("events_batch(batch, kind)")},
         true},
        // Version 2: film lots, calibrations and their approvals.
        {QStringLiteral("lots"),
         {text("time_utc"), text("name"), text("film_type"), real("thickness_mm"), real("thickness_u_mm"),
          text("backgrounds"), text("notes"), integer("supersedes"), text("operator"), text("program_version")},
         2,
         {QStringLiteral("lots_name(name)")}},
        {QStringLiteral("calibrations"),
         {text("time_utc"), text("lot"), integer("lot_row"), text("reader_serial"), text("wavelength"),
          integer("batch"), text("model"), integer("through_zero"), real("reference_u"), real("range_min"),
          real("range_max"), text("read_window"), text("fit"), text("doses_file"), text("doses_sha256"),
          text("operator"), text("program_version")},
         2,
         {QStringLiteral("calibrations_key(lot, reader_serial, wavelength)")}},
        // The terms a batch is read under: the end of irradiation, the
        // product's dose limits and the decision rule; the latest row holds.
        {QStringLiteral("batch_terms"),
         {text("time_utc"), integer("batch"), text("irradiated_utc"), real("limit_low_kgy"), real("limit_high_kgy"),
          text("decision_rule"), text("operator"), text("program_version")},
         2,
         {QStringLiteral("batch_terms_batch(batch)")}},
        // The dose of a reading from a calibration; a later calibration's dose
        // of the same reading supersedes it.
        {QStringLiteral("doses"),
         {text("time_utc"), integer("reading"), integer("batch"), text("dosimeter_id"), integer("calibration"),
          text("lot"), integer("lot_row"), real("a0"), real("thickness_mm"), integer("own_thickness"), real("response"),
          real("dose_kgy"), real("u_fit_kgy"), real("u_read_kgy"), real("u_ref_kgy"), real("u_thick_kgy"),
          real("u_c_kgy"), real("expanded_kgy"), text("flags"), text("decision"), integer("supersedes"),
          text("program_version")},
         2,
         {QStringLiteral("doses_reading(reading)"), QStringLiteral("doses_batch(batch)")},
         true},
        {QStringLiteral("approvals"),
         {text("time_utc"), integer("calibration"), text("approver_login"), text("approver_name"), text("reason"),
          integer("supersedes"), text("program_version")},
         2,
         {QStringLiteral("approvals_calibration(calibration)")}},
        // Version 2: quality control, the reference filters with their
        // certificates and the verifications of calibrations.
        {QStringLiteral("reference_filters"),
         {text("time_utc"), text("reader_serial"), text("wavelength"), real("light"), real("medium"), real("dark"),
          real("expanded_u"), real("tolerance"), text("certificate"), text("certificate_date"), integer("supersedes"),
          text("operator"), text("program_version")},
         2,
         {QStringLiteral("reference_filters_key(reader_serial, wavelength)")}},
        {QStringLiteral("verifications"),
         {text("time_utc"), text("lot"), integer("batch"), text("batch_name"), text("reader_serial"),
          text("wavelength"), integer("calibration"), integer("films"), real("mean_ratio"), real("sd_ratio"),
          real("tolerance_pct"), integer("passed"), text("detail"), text("doses_file"), text("doses_sha256"),
          text("operator"), text("program_version")},
         2,
         {QStringLiteral("verifications_lot(lot)")}},
    };
    return tables;
}

const TableSchema& recordTable(const QString& name)
{
    for (const TableSchema& t : recordTables())
        if (t.name == name)
            return t;
    Q_ASSERT_X(false, "recordTable", "unknown table");
    return recordTables().constFirst();
}

QString triggerName(const TableSchema& table, const QString& operation)
{
    return QStringLiteral("%1_no_%2").arg(table.name, operation.toLower());
}

QString indexName(const QString& index) { return index.section(QLatin1Char('('), 0, 0); }

QString indexSql(const TableSchema& table, const QString& index)
{
    return QStringLiteral("CREATE INDEX %1 ON %2%3").arg(indexName(index), table.name, index.mid(index.indexOf(QLatin1Char('('))));
}

QString selectColumns(const TableSchema& table, int version)
{
    QStringList names{QStringLiteral("seq")};
    for (const Column& c : table.columns)
        names << (c.since <= version ? c.name : QStringLiteral("NULL AS ") + c.name);
    names << QStringLiteral("hash");
    return names.join(QLatin1Char(','));
}

QByteArray genesisHash() { return QByteArray(64, '0'); }

QByteArray canonicalContent(const TableSchema& table, qint64 seq, const QVariantList& values)
{
    // Built in place: verify makes one of these for every row of the store.
    QByteArray out;
    out.reserve(512);
    // A number's decimal digits, into `digits`; returns their count.
    const auto toDigits = [](char (&digits)[24], qint64 n) {
        return qsizetype(std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
    };
    // A value as "<size in bytes>:<bytes>".
    const auto sized = [&](const char* bytes, qsizetype size) {
        char digits[24];
        out.append(digits, toDigits(digits, size));
        out += ':';
        out.append(bytes, size);
    };
    out += "KALVOR-RECORD/1\ntable=";
    out += table.name.toUtf8();
    out += "\nseq=";
    char seqDigits[24];
    out.append(seqDigits, toDigits(seqDigits, seq));
    out += '\n';
    for (int i = 0; i < table.columns.size() && i < values.size(); ++i) {
        const QVariant& value = values[i];
        if (value.isNull())
            continue;
        const Column& c = table.columns[i];
        if (c.canonicalKey.isEmpty())
            out += c.name.toUtf8() + '=' + typeLetter(c.type);
        else
            out += c.canonicalKey;
        if (c.type == ColumnType::Integer) {
            char digits[24];
            sized(digits, toDigits(digits, value.toLongLong()));
        } else if (c.type == ColumnType::Real) {
            const QByteArray bytes = QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
            sized(bytes.constData(), bytes.size());
        } else if (value.typeId() == QMetaType::QByteArray) {
            // Text read as its UTF-8 bytes (TablePages), used as it is.
            const QByteArray& bytes = *static_cast<const QByteArray*>(value.constData());
            sized(bytes.constData(), bytes.size());
        } else {
            const QByteArray bytes = value.toString().toUtf8();
            sized(bytes.constData(), bytes.size());
        }
        out += '\n';
    }
    return out;
}

QByteArray chainHash(const QByteArray& previousHash, const QByteArray& canonical)
{
    // OpenSSL's SHA-256 (several times Qt's own, which dominated verify).
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr)
                    && EVP_DigestUpdate(ctx, previousHash.constData(), std::size_t(previousHash.size()))
                    && EVP_DigestUpdate(ctx, canonical.constData(), std::size_t(canonical.size()))
                    && EVP_DigestFinal_ex(ctx, digest, &size);
    EVP_MD_CTX_free(ctx);
    if (!ok) {
        QCryptographicHash h(QCryptographicHash::Sha256);
        h.addData(previousHash);
        h.addData(canonical);
        return h.result().toHex();
    }
    return QByteArray::fromRawData(reinterpret_cast<const char*>(digest), int(size)).toHex();
}

} // namespace kalvor::records
