#pragma once
// How a record's values go into its table's row and come back from a query,
// the same for every kind of record: text is stored as '' when empty, never
// as NULL, so that it reads back as written; a number that is not there is
// NULL.
#include "records/RecordSchema.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace kalvor::records::rowvalues {

inline QVariant textValue(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }
inline QVariant orNull(const std::optional<qint64>& v) { return v ? QVariant(*v) : QVariant(); }
inline QVariant orNull(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(); }

inline std::optional<qint64> optInt(const QSqlQuery& q, int i)
{
    return q.isNull(i) ? std::nullopt : std::optional<qint64>(q.value(i).toLongLong());
}
inline std::optional<double> optReal(const QSqlQuery& q, int i)
{
    return q.isNull(i) ? std::nullopt : std::optional<double>(q.value(i).toDouble());
}

// seq and the table's columns, in order: what a query of whole records selects.
inline QString columns(const QString& table)
{
    QStringList names{QStringLiteral("seq")};
    for (const Column& c : recordTable(table).columns)
        names << c.name;
    return names.join(QLatin1Char(','));
}

} // namespace kalvor::records::rowvalues
