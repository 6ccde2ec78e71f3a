#include "batchwin/RecordTableModel.h"

#include "records/CurrentRecords.h"

#include <QBrush>
#include <QDateTime>
#include <QFont>

namespace kalvor::batchwin {

void RecordTableModel::setRecords(const QList<ReadingRecord>& records)
{
    beginResetModel();
    records_ = records;
    recount();
    endResetModel();
}

void RecordTableModel::append(const ReadingRecord& record)
{
    const int row = int(records_.size());
    beginInsertRows({}, row, row);
    records_.append(record);
    endInsertRows();
    recount();
    if (row > 0)
        emit dataChanged(index(0, 0), index(row, ColumnCount - 1));
}

void RecordTableModel::setDoses(const QHash<qint64, DoseRecord>& doses)
{
    doses_ = doses;
    if (!records_.isEmpty())
        emit dataChanged(index(0, Dose), index(int(records_.size()) - 1, Decision));
}

void RecordTableModel::recount()
{
    supersededBy_ = supersededBy(records_);
}

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(records_.size()); }

int RecordTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RecordTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= records_.size())
        return {};
    const ReadingRecord& r = records_[index.row()];
    const bool superseded = supersededBy_.contains(r.seq);
    if (role == Qt::TextAlignmentRole)
        return index.column() == Dosimeter || index.column() == Note || index.column() == Status
                       || index.column() == Current || index.column() == Reason || index.column() == Decision
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    const auto dose = doses_.constFind(r.seq);
    const bool dosed = dose != doses_.constEnd();
    if (role == Qt::ForegroundRole) {
        if (superseded)
            return QBrush(Qt::gray);
        if (index.column() == Decision && dosed && !dose->decision.isEmpty())
            return QBrush(dose->decision == QLatin1String("pass") ? QColor(0x1a, 0x8f, 0x3a) : QColor(0xc0, 0x20, 0x20));
        return {};
    }
    if (role == Qt::FontRole && superseded && index.column() == Absorbance) {
        QFont f;
        f.setStrikeOut(true);
        return f;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Record:
        return QString::number(r.seq);
    case Dosimeter:
        return r.dosimeterId;
    case Time:
        return QDateTime::fromString(r.timeUtc, Qt::ISODateWithMs).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    case Absorbance:
        return r.isVoid() ? QStringLiteral("void") : r.shown.trimmed();
    case Dose:
        if (!dosed)
            return QString();
        return dose->doseKGy ? QString::number(*dose->doseKGy, 'f', 2) : dose->flags.join(QStringLiteral(", "));
    case DoseU:
        return dosed && dose->doseKGy ? QString::number(dose->expanded, 'f', 2) : QString();
    case Decision:
        return dosed ? dose->decision : QString();
    case Spread:
        return r.isVoid() ? QString() : QString::number(r.spread, 'f', 4);
    case Count:
        return r.isVoid() ? QString() : QString::number(r.count);
    case Status:
        return r.status;
    case Current:
        return superseded ? QStringLiteral("superseded by #%1").arg(supersededBy_.value(r.seq))
                          : QStringLiteral("current");
    case Note:
        if (r.corrects)
            return QStringLiteral("corrects #%1").arg(*r.corrects);
        if (r.repeats)
            return QStringLiteral("re-read of #%1").arg(*r.repeats);
        if (r.supersedes)
            return QStringLiteral("replaces #%1").arg(*r.supersedes);
        return r.trigger == QLatin1String("sensor") || r.isVoid() ? QString() : QStringLiteral("by %1").arg(r.trigger);
    case Reason:
        return r.reason;
    default:
        return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList names{QStringLiteral("Record"),   QStringLiteral("Dosimeter"), QStringLiteral("Time"),
                                   QStringLiteral("Absorbance"), QStringLiteral("Dose (kGy)"), QStringLiteral("U (kGy)"),
                                   QStringLiteral("Decision"), QStringLiteral("Spread"), QStringLiteral("Readings"),
                                   QStringLiteral("Status"),   QStringLiteral("Current"),   QStringLiteral("Note"),
                                   QStringLiteral("Reason")};
    return names.value(section);
}

} // namespace kalvor::batchwin
