#include "batch/IdPlan.h"

#include "records/Csv.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>

namespace kalvor::batch {

// Batch reading works on the rows of the record store.
using namespace kalvor::records;

namespace {

const QString kStoredHeader = QStringLiteral("id,thickness_mm,position");
constexpr int kMaxPosition = 200;

bool isIdHeader(const QString& cell)
{
    static const QStringList names{QStringLiteral("id"), QStringLiteral("dosimeter"),
                                   QStringLiteral("dosimeter id"), QStringLiteral("dosimeter_id"),
                                   QStringLiteral("dosimeterid")};
    return names.contains(cell.trimmed().toLower());
}

int columnNamed(const QStringList& header, const QStringList& names)
{
    for (int i = 0; i < header.size(); ++i)
        if (names.contains(header[i].trimmed().toLower()))
            return i;
    return -1;
}

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

QString shown(const QString& text)
{
    QString out;
    for (const QChar c : text.left(80))
        out += c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
                   ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                   : QString(c);
    return text.size() > 80 ? out + QStringLiteral("...") : out;
}

} // namespace

QStringList IdPlan::list() const
{
    QStringList out;
    for (const IdEntry& e : entries_)
        out << e.id;
    return out;
}

std::optional<IdEntry> IdPlan::entry(const QString& id) const
{
    for (const IdEntry& e : entries_)
        if (e.id == id)
            return e;
    return std::nullopt;
}

std::optional<QString> IdPlan::next(const QSet<QString>& used) const
{
    if (hasList()) {
        for (const IdEntry& e : entries_)
            if (!used.contains(e.id))
                return e.id;
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
    for (const IdEntry& e : entries_)
        n += used.contains(e.id) ? 0 : 1;
    return n;
}

QStringList IdPlan::parseText(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\r\\n,;\\t]+"));
    QStringList out;
    for (const QString& raw : text.split(separators, Qt::SkipEmptyParts))
        if (const QString id = raw.trimmed(); !id.isEmpty())
            out << id;
    return out;
}

QList<IdEntry> IdPlan::entriesOf(const QStringList& ids)
{
    QList<IdEntry> out;
    for (const QString& id : ids)
        out.append(IdEntry{id, std::nullopt, QString()});
    return out;
}

std::optional<QList<IdEntry>> IdPlan::parseCsv(const QString& text, QString* why)
{
    // Records with the line each starts on, so that a fault can name it.
    QList<QStringList> records;
    QList<int> lines;
    if (!csv::parse(text, &records, why, &lines))
        return std::nullopt;
    auto fail = [&](int record, const QString& what) {
        if (why)
            *why = QStringLiteral("line %1: %2").arg(lines.value(record, record + 1)).arg(what);
        return std::nullopt;
    };

    int idColumn = 0;
    int thicknessColumn = -1;
    int positionColumn = -1;
    int first = 0;
    if (!records.isEmpty()) {
        const QStringList& head = records.first();
        for (int i = 0; i < head.size(); ++i)
            if (isIdHeader(head[i])) {
                idColumn = i;
                first = 1;
                thicknessColumn = columnNamed(head, {QStringLiteral("thickness"), QStringLiteral("thickness_mm"),
                                                     QStringLiteral("thickness mm"), QStringLiteral("thickness (mm)")});
                positionColumn = columnNamed(head, {QStringLiteral("position")});
                break;
            }
    }
    QList<IdEntry> out;
    QHash<QString, int> seenAt;
    for (int r = first; r < records.size(); ++r) {
        const QStringList& rec = records[r];
        const bool blank = std::all_of(rec.begin(), rec.end(), [](const QString& f) { return f.trimmed().isEmpty(); });
        if (blank)
            continue;
        IdEntry e;
        e.id = rec.value(idColumn).trimmed();
        if (e.id.isEmpty())
            return fail(r, QStringLiteral("no dosimeter ID in this row"));
        if (const QString problem = idProblem(e.id); !problem.isEmpty())
            return fail(r, QStringLiteral("\"%1\" is not a usable dosimeter ID: %2").arg(shown(e.id), problem));
        if (seenAt.contains(e.id))
            return fail(r, QStringLiteral("dosimeter ID %1 is listed twice (first on line %2)")
                               .arg(shown(e.id))
                               .arg(lines.value(seenAt.value(e.id))));
        seenAt.insert(e.id, r);
        if (thicknessColumn >= 0 && !rec.value(thicknessColumn).trimmed().isEmpty()) {
            bool ok = false;
            const double t = rec.value(thicknessColumn).trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(t) || t <= 0 || t > 10)
                return fail(r, QStringLiteral("thickness \"%1\" of %2 is no thickness in mm (more than 0, at most 10)")
                                   .arg(shown(rec.value(thicknessColumn).trimmed()), shown(e.id)));
            e.thicknessMm = t;
        }
        if (positionColumn >= 0) {
            e.position = rec.value(positionColumn).trimmed();
            if (e.position.size() > kMaxPosition || hasControl(e.position))
                return fail(r, QStringLiteral("the position of %1 is longer than %2 characters or holds control characters")
                                   .arg(shown(e.id))
                                   .arg(kMaxPosition));
        }
        out.append(e);
    }
    return out;
}

bool IdPlan::checkList(const QList<IdEntry>& entries, QString* why)
{
    QStringList problems;
    QStringList twice;
    QSet<QString> seen;
    for (const IdEntry& e : entries) {
        if (const QString problem = idProblem(e.id); !problem.isEmpty())
            problems << QStringLiteral("\"%1\" is not a usable dosimeter ID: %2").arg(shown(e.id), problem);
        else if (seen.contains(e.id) && !twice.contains(e.id))
            twice << shown(e.id);
        seen.insert(e.id);
    }
    if (!twice.isEmpty())
        problems << QStringLiteral("listed twice: %1").arg(twice.join(QStringLiteral(", ")));
    if (problems.isEmpty())
        return true;
    if (why)
        *why = problems.mid(0, 5).join(QStringLiteral("; "));
    return false;
}

QString IdPlan::idProblem(const QString& id)
{
    if (id.isEmpty())
        return QStringLiteral("it is empty");
    if (id.size() > 64)
        return QStringLiteral("it is longer than 64 characters");
    if (id.trimmed() != id)
        return QStringLiteral("it begins or ends with a blank");
    if (hasControl(id))
        return QStringLiteral("it holds control characters");
    return {};
}

bool IdPlan::isValidId(const QString& id) { return idProblem(id).isEmpty(); }

QString IdPlan::toStored(const QList<IdEntry>& entries)
{
    const bool plain = std::all_of(entries.begin(), entries.end(),
                                   [](const IdEntry& e) { return !e.thicknessMm && e.position.isEmpty(); });
    if (plain) {
        QStringList ids;
        for (const IdEntry& e : entries)
            ids << e.id;
        return ids.join(QLatin1Char('\n'));
    }
    QByteArray out = csv::record(kStoredHeader.split(QLatin1Char(',')));
    for (const IdEntry& e : entries)
        out += csv::record({e.id, e.thicknessMm ? csv::number(*e.thicknessMm) : QString(), e.position});
    return QString::fromUtf8(out);
}

QList<IdEntry> IdPlan::fromStored(const QString& text)
{
    if (text.startsWith(kStoredHeader + QStringLiteral("\r\n"))) {
        QString why;
        if (std::optional<QList<IdEntry>> entries = parseCsv(text, &why))
            return *entries;
    }
    return entriesOf(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

} // namespace kalvor::batch
