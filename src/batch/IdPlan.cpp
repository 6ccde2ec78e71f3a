#include "batch/IdPlan.h"

#include "records/Csv.h"

#include <QRegularExpression>

namespace kalvor::batch {

// Batch reading works on the rows of the record store.
using namespace kalvor::records;

namespace {

QStringList unique(const QStringList& ids)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString& raw : ids) {
        const QString id = raw.trimmed();
        if (id.isEmpty() || seen.contains(id))
            continue;
        seen.insert(id);
        out << id;
    }
    return out;
}

bool isHeader(const QString& cell)
{
    static const QStringList names{QStringLiteral("id"), QStringLiteral("dosimeter"),
                                   QStringLiteral("dosimeter id"), QStringLiteral("dosimeter_id"),
                                   QStringLiteral("dosimeterid")};
    return names.contains(cell.trimmed().toLower());
}

} // namespace

void IdPlan::setList(const QStringList& ids) { list_ = unique(ids); }

std::optional<QString> IdPlan::next(const QSet<QString>& used) const
{
    if (hasList()) {
        for (const QString& id : list_)
            if (!used.contains(id))
                return id;
        return std::nullopt;
    }
    const QString first = first_.isEmpty() ? QStringLiteral("1") : first_;
    bool ok = false;
    const qlonglong start = first.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    const int width = first.size();
    // The number after the highest one used with this prefix, never below the first.
    qlonglong next = start;
    const QRegularExpression numbered(QStringLiteral("^%1(\\d+)$").arg(QRegularExpression::escape(prefix_)));
    for (const QString& id : used) {
        const QRegularExpressionMatch m = numbered.match(id);
        if (m.hasMatch())
            next = std::max(next, m.captured(1).toLongLong() + 1);
    }
    return prefix_ + QStringLiteral("%1").arg(next, width, 10, QLatin1Char('0'));
}

int IdPlan::remaining(const QSet<QString>& used) const
{
    int n = 0;
    for (const QString& id : list_)
        n += used.contains(id) ? 0 : 1;
    return n;
}

QStringList IdPlan::parseText(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\r\\n,;\\t]+"));
    return unique(text.split(separators, Qt::SkipEmptyParts));
}

std::optional<QStringList> IdPlan::parseCsv(const QString& text, QString* why)
{
    QList<QStringList> records;
    if (!csv::parse(text, &records, why))
        return std::nullopt;
    int column = 0;
    if (!records.isEmpty()) {
        const QStringList& head = records.first();
        for (int i = 0; i < head.size(); ++i)
            if (isHeader(head[i])) {
                column = i;
                records.removeFirst();
                break;
            }
    }
    QStringList ids;
    for (const QStringList& r : records)
        ids << r.value(column);
    ids = unique(ids);
    for (const QString& id : ids)
        if (!isValidId(id)) {
            if (why)
                *why = QStringLiteral("\"%1\" is not a usable dosimeter ID").arg(id.left(80));
            return std::nullopt;
        }
    return ids;
}

bool IdPlan::isValidId(const QString& id)
{
    if (id.isEmpty() || id.size() > 64 || id.trimmed() != id)
        return false;
    for (const QChar c : id)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    return true;
}

} // namespace kalvor::batch
