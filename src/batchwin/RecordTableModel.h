#pragma once
// The batch's readings as a table for the window: one row per stored record,
// newest last, each marked current or superseded (by the row that replaced
// it), with the reason of a re-read, correction or void.
#include "records/Doses.h"
#include "records/Records.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

namespace kalvor::batchwin {

// The window shows the rows of the record store.
using namespace kalvor::records;

class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Record, Dosimeter, Time, Absorbance, Dose, DoseU, Decision, Spread, Count, Status, Current, Note, Reason,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void setRecords(const QList<ReadingRecord>& records);
    void append(const ReadingRecord& record);
    // The current dose of each reading that has one (a batch of a calibrated lot).
    void setDoses(const QHash<qint64, DoseRecord>& doses);
    const ReadingRecord& record(int row) const { return records_.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void recount();

    QList<ReadingRecord> records_;
    QHash<qint64, qint64> supersededBy_;  // row -> the later row that names it
    QHash<qint64, DoseRecord> doses_;
};

} // namespace kalvor::batchwin
