#include "batch/CalibrationCsv.h"

#include "records/Csv.h"

#include <QFile>
#include <QLocale>
#include <cmath>

namespace kalvor::batch {

namespace {

constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

} // namespace

std::optional<std::vector<calib::Point>> readCalibrationCsv(const QString& path, QString* why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = f.read(kMaxBytes + 1);
    if (bytes.size() > kMaxBytes) {
        *why = QStringLiteral("%1 is too large for a calibration (more than 16 MiB)").arg(path);
        return std::nullopt;
    }
    return parseCalibrationCsv(QString::fromUtf8(bytes), path, why);
}

std::optional<std::vector<calib::Point>> parseCalibrationCsv(const QString& text, const QString& name, QString* why)
{
    QList<QStringList> rows;
    QList<int> lines;
    QString parseWhy;
    if (!records::csv::parse(text, &rows, &parseWhy, &lines)) {
        *why = QStringLiteral("%1: %2").arg(name, parseWhy);
        return std::nullopt;
    }
    if (rows.isEmpty()) {
        *why = QStringLiteral("%1 is empty: it needs a header row naming the columns dose and response, "
                              "then one row per film").arg(name);
        return std::nullopt;
    }
    qsizetype doseColumn = -1;
    qsizetype responseColumn = -1;
    for (qsizetype i = 0; i < rows[0].size(); ++i) {
        const QString heading = rows[0][i].trimmed().toLower();
        if (heading == QLatin1String("dose") && doseColumn < 0)
            doseColumn = i;
        else if (heading == QLatin1String("response") && responseColumn < 0)
            responseColumn = i;
    }
    for (const auto& [column, heading] : {std::pair{doseColumn, "dose"}, std::pair{responseColumn, "response"}}) {
        if (column < 0) {
            *why = QStringLiteral("%1: line %2: the header row has no column %3 (it needs dose and response, separated by commas)")
                       .arg(name).arg(lines[0]).arg(QLatin1String(heading));
            return std::nullopt;
        }
    }

    std::vector<calib::Point> points;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        double values[2] = {0, 0};
        const qsizetype columns[2] = {doseColumn, responseColumn};
        for (int k = 0; k < 2; ++k) {
            const QString heading = k == 0 ? QStringLiteral("dose") : QStringLiteral("response");
            const QString field = rows[r].value(columns[k]).trimmed();
            auto fail = [&](const QString& what) {
                *why = QStringLiteral("%1: line %2: %3").arg(name).arg(lines[r]).arg(what);
                return std::nullopt;
            };
            if (field.isEmpty())
                return fail(QStringLiteral("no %1").arg(heading));
            bool ok = false;
            values[k] = QLocale::c().toDouble(field, &ok);
            if (!ok)
                return fail(QStringLiteral("%1 \"%2\" is not a number").arg(heading, field));
            if (!std::isfinite(values[k]))
                return fail(QStringLiteral("%1 %2 is not a finite number").arg(heading, field));
            if (k == 0 && values[k] < 0)
                return fail(QStringLiteral("dose %1 is negative").arg(field));
        }
        points.push_back(calib::Point{values[0], values[1]});
    }
    if (points.empty()) {
        *why = QStringLiteral("%1 has a header row but no films").arg(name);
        return std::nullopt;
    }
    return points;
}

} // namespace kalvor::batch
