#pragma once
// Where a record store is: an SQLite file (a path), or a PostgreSQL database
// named as libpq names one in a URI,
//   postgresql://[user@][host][:port][/dbname][?key=value&...]
// (also postgres://), with a Unix-socket folder as host=/run/postgresql in
// the query or percent-encoded in place of the host. A password never comes
// from the command line or a settings file: libpq reads it from ~/.pgpass
// or PGPASSFILE, so a URI that holds one is refused.
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace kalvor::records {

struct StoreLocation {
    enum class Kind { SqliteFile, PostgreSql };
    Kind kind = Kind::SqliteFile;
    QString text;  // as given: the path, or the URI

    // PostgreSQL: empty where the URI leaves it to libpq's defaults
    // (PGHOST, PGUSER, ...; the socket folder, the login name).
    QString host;  // a name, an address, or an absolute folder (a Unix socket)
    int port = -1;
    QString user;
    QString database;
    QList<std::pair<QString, QString>> options;  // further libpq keywords, e.g. sslmode=require

    bool isServer() const { return kind == Kind::PostgreSql; }
    // For messages and files that name the store: the file's absolute path,
    // or the URI as given.
    QString display() const;
    // "database kalvor on labserver:5432", "database kalvor on /run/postgresql".
    QString serverText() const;

    // Nothing, with the reason, for a URI that cannot be used (a password in
    // it, an unknown scheme form, a value libpq would read otherwise).
    static std::optional<StoreLocation> parse(const QString& text, QString* why);
    static bool looksLikeUri(const QString& text);
};

} // namespace kalvor::records
