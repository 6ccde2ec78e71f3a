#include "batch/DosesFile.h"

#include "records/Csv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QLocale>

#include <cmath>

namespace kalvor::batch {

namespace {

int column(const QStringList& header, const QStringList& names)
{
    for (int i = 0; i < header.size(); ++i)
        if (names.contains(header[i].trimmed().toLower()))
            return i;
    return -1;
}

} // namespace

std::optional<QList<ReferenceDose>> parseDosesFile(const QString& text, const QString& name, QString* why)
{
    QList<QStringList> records;
    QList<int> lines;
    QString parseWhy;
    if (!records::csv::parse(text, &records, &parseWhy, &lines)) {
        *why = QStringLiteral("%1: %2").arg(name, parseWhy);
        return std::nullopt;
    }
    if (records.isEmpty()) {
        *why = QStringLiteral("%1 is empty").arg(name);
        return std::nullopt;
    }
    const QStringList& header = records.first();
    const int id = column(header, {QStringLiteral("id"), QStringLiteral("dosimeter"), QStringLiteral("dosimeter_id"),
                                   QStringLiteral("dosimeter id")});
    const int kGy = column(header, {QStringLiteral("dose_kgy")});
    const int gy = column(header, {QStringLiteral("dose_gy")});
    if (id < 0 || (kGy < 0 && gy < 0)) {
        *why = QStringLiteral("%1, line %2: the header must name an id column and dose_kGy or dose_Gy")
                   .arg(name)
                   .arg(lines.value(0, 1));
        return std::nullopt;
    }
    if (kGy >= 0 && gy >= 0) {
        *why = QStringLiteral("%1: give the dose in one column, dose_kGy or dose_Gy, not both").arg(name);
        return std::nullopt;
    }
    const int dose = kGy >= 0 ? kGy : gy;
    const double scale = kGy >= 0 ? 1.0 : 0.001;
    QList<ReferenceDose> out;
    QHash<QString, int> seen;
    for (int r = 1; r < records.size(); ++r) {
        const QStringList& rec = records[r];
        const int line = lines.value(r, r + 1);
        if (std::all_of(rec.begin(), rec.end(), [](const QString& f) { return f.trimmed().isEmpty(); }))
            continue;
        const QString dosimeter = rec.value(id).trimmed();
        const QString value = rec.value(dose).trimmed();
        if (dosimeter.isEmpty()) {
            *why = QStringLiteral("%1, line %2: no dosimeter ID").arg(name).arg(line);
            return std::nullopt;
        }
        if (seen.contains(dosimeter)) {
            *why = QStringLiteral("%1, line %2: %3 is listed twice (first on line %4)")
                       .arg(name)
                       .arg(line)
                       .arg(dosimeter.left(64))
                       .arg(seen.value(dosimeter));
            return std::nullopt;
        }
        bool ok = false;
        const double d = QLocale::c().toDouble(value, &ok);
        if (!ok || !std::isfinite(d)) {
            *why = QStringLiteral("%1, line %2: the dose of %3, \"%4\", is not a number")
                       .arg(name)
                       .arg(line)
                       .arg(dosimeter.left(64), value.left(40));
            return std::nullopt;
        }
        if (d < 0) {
            *why = QStringLiteral("%1, line %2: the dose of %3 is negative (%4)").arg(name).arg(line).arg(dosimeter.left(64), value);
            return std::nullopt;
        }
        seen.insert(dosimeter, line);
        out.append(ReferenceDose{dosimeter, d * scale, line});
    }
    if (out.isEmpty()) {
        *why = QStringLiteral("%1 holds no dose").arg(name);
        return std::nullopt;
    }
    return out;
}

std::optional<QList<ReferenceDose>> readDosesFile(const QString& path, QString* sha256, QString* why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = f.read(16 * 1024 * 1024 + 1);
    if (bytes.size() > 16 * 1024 * 1024) {
        *why = QStringLiteral("%1 is too large for a list of doses").arg(path);
        return std::nullopt;
    }
    if (sha256)
        *sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return parseDosesFile(QString::fromUtf8(bytes), path, why);
}

} // namespace kalvor::batch
