#include "records/TablePages.h"

#include "records/RecordStore.h"

#include <QSqlError>

namespace kalvor::records {

TablePages::TablePages(const RecordStore& store, const TableSchema& table, int version, int pageSize, bool textAsBytes)
    : table_(&table), query_(store.database()), pageSize_(pageSize)
{
    QString columns = selectColumns(table, version);
    if (textAsBytes && !store.isServer()) {
        // SQLite hands the bytes over as stored, without a detour through UTF-16.
        QStringList names{QStringLiteral("seq")};
        for (const Column& c : table.columns)
            names << (c.since > version ? QStringLiteral("NULL")
                      : c.type == ColumnType::Text ? QStringLiteral("CAST(%1 AS BLOB)").arg(c.name)
                                                   : c.name);
        names << QStringLiteral("CAST(hash AS BLOB)");
        columns = names.join(QLatin1Char(','));
    }
    // SQLite streams a forward-only query; PostgreSQL's driver would read it
    // row by row, so it takes each (bounded) page whole instead.
    query_.setForwardOnly(!store.isServer() || textAsBytes);
    if (!query_.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE seq > ? ORDER BY seq LIMIT %3")
                            .arg(columns, table.name)
                            .arg(pageSize)))
        error_ = query_.lastError().text();
    fetch();
}

void TablePages::advance()
{
    if (++at_ >= rows_.size() && !done_)
        fetch();
}

void TablePages::fetch()
{
    rows_.clear();
    at_ = 0;
    if (!error_.isEmpty())
        return;
    query_.bindValue(0, after_);
    if (!query_.exec()) {
        error_ = query_.lastError().text();
        return;
    }
    const int columns = int(table_->columns.size());
    rows_.reserve(size_t(pageSize_));
    while (query_.next()) {
        StoredRow r;
        r.seq = query_.value(0).toLongLong();
        r.values.reserve(columns);
        for (int i = 1; i <= columns; ++i)
            r.values << (query_.isNull(i) ? QVariant() : query_.value(i));
        const QVariant hash = query_.value(columns + 1);
        r.hash = hash.typeId() == QMetaType::QByteArray ? hash.toByteArray() : hash.toString().toLatin1();
        rows_.push_back(std::move(r));
    }
    query_.finish();
    done_ = int(rows_.size()) < pageSize_;
    if (!rows_.empty())
        after_ = rows_.back().seq;
}

} // namespace kalvor::records
