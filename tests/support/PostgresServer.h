#pragma once
// A private PostgreSQL server for one test: initdb and pg_ctl in a temporary
// folder, listening on a Unix socket in that folder only. Run as root (as in
// CI), the server runs as the postgres account (else nobody), which gets the
// folder. The server is stopped with pg_ctl when the object goes, also when
// the test fails; a watchdog process stops it when the test process dies
// without that (a crash, a time-out's SIGKILL).
//
// Roles: postgres, the superuser; kalvor, the owner of database kalvor
// (both logging in without a password over the socket); every other role
// logs in with a password (scram-sha-256), which libpq takes from
// PGPASSFILE or ~/.pgpass.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/types.h>

namespace kalvor::test {

class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Whether it runs; why not (for the test's skip message) when it does not.
    bool isRunning() const { return running_; }
    const QString& whyNot() const { return whyNot_; }

    QString socketDir() const;
    // postgresql://USER@/DATABASE?host=SOCKETDIR
    QString uri(const QString& database = QStringLiteral("kalvor"), const QString& user = QStringLiteral("kalvor")) const;
    // Statements run one by one as the superuser on `database`; false with
    // the first error.
    bool sql(const QStringList& statements, QString* why, const QString& database = QStringLiteral("kalvor")) const;
    // A database owned by role kalvor.
    bool createDatabase(const QString& name, QString* why) const;

    bool stop();     // pg_ctl stop -m fast
    bool start();
    bool restart();  // pg_ctl restart -m fast: every connection is cut
    QString log() const;

private:
    bool run(const QStringList& args, QString* output = nullptr) const;
    bool startWatchdog();

    QTemporaryDir dir_;
    QString bin_;
    QString account_;  // the account the server runs as; empty: this one
    bool running_ = false;
    QString whyNot_;
    pid_t watchdog_ = -1;
    int watchdogPipe_ = -1;
};

} // namespace kalvor::test
