#include "records/TablePages.h"

#include "records/RecordStore.h"

#include <QSqlError>

#include <atomic>

namespace kalvor::records {

TablePages::TablePages(const RecordStore& store, const TableSchema& table, int version, Options options)
    : table_(&table), pageSize_(options.pageSize)
{
    QSqlDatabase db = store.database();
    if (options.ownConnection) {
        static std::atomic<int> serial{0};
        const QString name = QStringLiteral("%1-%2-%3").arg(db.connectionName(), table.name).arg(++serial);
        if (store.backend().openInSameState(db, name)) {
            connection_ = name;
            db = QSqlDatabase::database(name, false);
            streaming_ = true;
        }
    }
    query_ = QSqlQuery(db);
    QString columns = selectColumns(table, version);
    if (options.textAsBytes && !store.isServer()) {
        // SQLite hands the bytes over as stored, without a detour through UTF-16.
        QStringList names{QStringLiteral("seq")};
        for (const Column& c : table.columns)
            names << (c.since > version ? QStringLiteral("NULL")
                      : c.type == ColumnType::Text ? QStringLiteral("CAST(%1 AS BLOB)").arg(c.name)
                                                   : c.name);
        names << QStringLiteral("CAST(hash AS BLOB)");
        columns = names.join(QLatin1Char(','));
    }
    // SQLite streams a forward-only query. PostgreSQL's driver reads one
    // row by row from the server, which only a connection of its own can
    // leave open between pages; on a shared one each (bounded) page is read
    // whole, unless the rows are read to hash, where forward-only is faster.
    query_.setForwardOnly(!store.isServer() || options.textAsBytes || streaming_);
    const bool prepared =
        streaming_ ? query_.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY seq").arg(columns, table.name))
                   : query_.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE seq > ? ORDER BY seq LIMIT %3")
                                        .arg(columns, table.name)
                                        .arg(pageSize_));
    if (!prepared)
        error_ = query_.lastError().text();
    fetch();
}

TablePages::~TablePages()
{
    if (connection_.isEmpty())
        return;
    query_ = QSqlQuery();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.rollback();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
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
    if (!streaming_) {
        query_.bindValue(0, after_);
        if (!query_.exec()) {
            error_ = query_.lastError().text();
            return;
        }
    }
    const int columns = int(table_->columns.size());
    rows_.reserve(size_t(pageSize_));
    while (int(rows_.size()) < pageSize_ && query_.next()) {
        StoredRow r;
        r.seq = query_.value(0).toLongLong();
        r.values.reserve(columns);
        for (int i = 1; i <= columns; ++i)
            r.values << (query_.isNull(i) ? QVariant() : query_.value(i));
        const QVariant hash = query_.value(columns + 1);
        r.hash = hash.typeId() == QMetaType::QByteArray ? hash.toByteArray() : hash.toString().toLatin1();
        rows_.push_back(std::move(r));
    }
    done_ = int(rows_.size()) < pageSize_;
    if (!streaming_ || done_) {
        if (streaming_ && query_.lastError().type() != QSqlError::NoError)
            error_ = query_.lastError().text();
        query_.finish();
    }
    if (!rows_.empty())
        after_ = rows_.back().seq;
}

} // namespace kalvor::records
