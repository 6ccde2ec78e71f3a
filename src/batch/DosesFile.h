#pragma once
// The reference doses of a calibration (or verification) batch: a CSV file
// with a header naming the dosimeter ID column (id, dosimeter, dosimeter_id)
// and the dose, `dose_kGy` or `dose_Gy` (any case). Every fault is named with
// its line: no such columns, text or a number that is not finite in the dose
// column, a negative dose, an ID listed twice, an empty file.
#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

struct ReferenceDose {
    QString id;
    double kGy = 0;
    int line = 0;
};

std::optional<QList<ReferenceDose>> parseDosesFile(const QString& text, const QString& name, QString* why);
// Reads the file; `sha256` (hex) gets the hash of its bytes, for the record.
std::optional<QList<ReferenceDose>> readDosesFile(const QString& path, QString* sha256, QString* why);

} // namespace kalvor::batch
