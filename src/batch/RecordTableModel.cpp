#include "batch/RecordTableModel.h"

#include <QDateTime>

namespace kalvor::batch {

void RecordTableModel::setRecords(const QList<ReadingRecord>& records)
{
    beginResetModel();
    records_ = records;
    endResetModel();
}

void RecordTableModel::append(const ReadingRecord& record)
{
    const int row = int(records_.size());
    beginInsertRows({}, row, row);
    records_.append(record);
    endInsertRows();
}

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(records_.size()); }

int RecordTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RecordTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= records_.size())
        return {};
    const ReadingRecord& r = records_[index.row()];
    if (role == Qt::TextAlignmentRole)
        return index.column() == Dosimeter || index.column() == Note || index.column() == Status
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
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
        return r.shown.trimmed();
    case Spread:
        return QString::number(r.spread, 'f', 4);
    case Count:
        return QString::number(r.count);
    case Status:
        return r.status;
    case Note:
        if (r.corrects)
            return QStringLiteral("corrects #%1").arg(*r.corrects);
        if (r.repeats)
            return QStringLiteral("re-read of #%1").arg(*r.repeats);
        return r.trigger == QLatin1String("sensor") ? QString() : QStringLiteral("by %1").arg(r.trigger);
    default:
        return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList names{QStringLiteral("Record"),        QStringLiteral("Dosimeter"), QStringLiteral("Time"),
                                   QStringLiteral("Absorbance"), QStringLiteral("Spread"),  QStringLiteral("Readings"),
                                   QStringLiteral("Status"),   QStringLiteral("Note")};
    return names.value(section);
}

} // namespace kalvor::batch
