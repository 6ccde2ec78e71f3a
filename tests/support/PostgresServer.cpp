#include "support/PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kalvor::test {

namespace {

// The folder of initdb and pg_ctl: KALVOR_PG_BINDIR, else the newest
// /usr/lib/postgresql/<version>/bin (Debian keeps them off PATH), else PATH.
QString findBinaries()
{
    const QString given = qEnvironmentVariable("KALVOR_PG_BINDIR");
    if (!given.isEmpty())
        return given;
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : found)
        if (QFileInfo(versions.filePath(v + QStringLiteral("/bin/initdb"))).isExecutable())
            return versions.filePath(v + QStringLiteral("/bin"));
    for (const QString& dir : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QFileInfo(dir + QStringLiteral("/initdb")).isExecutable())
            return dir;
    return {};
}

const char* kHba =
    "local all postgres trust\n"
    "local all kalvor trust\n"
    "local all all scram-sha-256\n";

} // namespace

PostgresServer::PostgresServer() : dir_(QDir::tempPath() + QStringLiteral("/kpg-XXXXXX"))
{
    bin_ = findBinaries();
    if (bin_.isEmpty()) {
        whyNot_ = QStringLiteral("PostgreSQL's initdb is not installed (Debian package postgresql)");
        return;
    }
    if (!dir_.isValid()) {
        whyNot_ = QStringLiteral("no temporary folder: %1").arg(dir_.errorString());
        return;
    }
    if (::geteuid() == 0) {
        // The server refuses to run as root.
        for (const char* name : {"postgres", "nobody"})
            if (const passwd* pw = ::getpwnam(name)) {
                account_ = QString::fromLatin1(name);
                if (::chown(QFile::encodeName(dir_.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                    whyNot_ = QStringLiteral("cannot hand %1 to %2").arg(dir_.path(), account_);
                    return;
                }
                break;
            }
        if (account_.isEmpty()) {
            whyNot_ = QStringLiteral("running as root, and there is no postgres or nobody account to run the server as");
            return;
        }
    }
    QString output;
    if (!run({bin_ + QStringLiteral("/initdb"), QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
              QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C"), QStringLiteral("--no-sync"), QStringLiteral("--auth=trust")},
             &output)) {
        whyNot_ = QStringLiteral("initdb failed: %1").arg(output);
        return;
    }
    QFile hba(dir_.filePath(QStringLiteral("data/pg_hba.conf")));
    QFile conf(dir_.filePath(QStringLiteral("data/postgresql.conf")));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(kHba) < 0
        || !conf.open(QIODevice::Append)
        || conf.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\nmax_connections = 40\n"
                                     "shared_buffers = 16MB\n")
                          .arg(dir_.path())
                          .toUtf8())
               < 0) {
        whyNot_ = QStringLiteral("cannot configure the server in %1").arg(dir_.path());
        return;
    }
    hba.close();
    conf.close();
    if (!startWatchdog()) {
        whyNot_ = QStringLiteral("cannot start the watchdog process");
        return;
    }
    if (!start()) {
        whyNot_ = QStringLiteral("pg_ctl start failed: %1").arg(log());
        return;
    }
    QString why;
    if (!sql({QStringLiteral("CREATE ROLE kalvor LOGIN"), QStringLiteral("CREATE DATABASE kalvor OWNER kalvor")}, &why,
             QStringLiteral("postgres"))) {
        whyNot_ = QStringLiteral("cannot create the test database: %1").arg(why);
        stop();
    }
}

PostgresServer::~PostgresServer()
{
    stop();
    if (watchdog_ > 0) {
        ::kill(watchdog_, SIGKILL);
        ::waitpid(watchdog_, nullptr, 0);
    }
    if (watchdogPipe_ >= 0)
        ::close(watchdogPipe_);
}

QString PostgresServer::socketDir() const { return dir_.path(); }

QString PostgresServer::uri(const QString& database, const QString& user) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, database, socketDir());
}

bool PostgresServer::run(const QStringList& args, QString* output) const
{
    QStringList command = args;
    if (!account_.isEmpty())
        command = QStringList{QStringLiteral("/usr/sbin/runuser"), QStringLiteral("-u"), account_, QStringLiteral("--")} + args;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(dir_.path());
    p.start(command.takeFirst(), command);
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return ok;
}

bool PostgresServer::start()
{
    running_ = run({bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                    QStringLiteral("-l"), dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                    QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")});
    return running_;
}

bool PostgresServer::stop()
{
    if (!running_)
        return true;
    running_ = !run({bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                     QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    return !running_;
}

bool PostgresServer::restart()
{
    running_ = run({bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                    QStringLiteral("-l"), dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-m"),
                    QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("restart")});
    return running_;
}

QString PostgresServer::log() const
{
    QFile f(dir_.filePath(QStringLiteral("server.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll().right(4000)) : QString();
}

bool PostgresServer::sql(const QStringList& statements, QString* why, const QString& database) const
{
    const QString name = QStringLiteral("test-superuser-") + QUuid::createUuid().toString();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir());
        db.setUserName(QStringLiteral("postgres"));
        db.setDatabaseName(database);
        ok = db.open();
        if (!ok)
            *why = db.lastError().text();
        QSqlQuery q(db);
        for (const QString& s : statements) {
            if (!ok)
                break;
            ok = q.exec(s);
            if (!ok)
                *why = s + QStringLiteral(": ") + q.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool PostgresServer::createDatabase(const QString& name, QString* why) const
{
    return sql({QStringLiteral("CREATE DATABASE %1 OWNER kalvor").arg(name)}, why, QStringLiteral("postgres"));
}

bool PostgresServer::startWatchdog()
{
    // Everything the child needs, made before fork: after it, only system calls.
    QStringList args{bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                     QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")};
    if (!account_.isEmpty())
        args = QStringList{QStringLiteral("/usr/sbin/runuser"), QStringLiteral("-u"), account_, QStringLiteral("--")} + args;
    std::vector<QByteArray> bytes;
    for (const QString& a : args)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // Nothing of the test's open files stays open here but the pipe.
        ::dup2(fds[0], 3);
        ::syscall(SYS_close_range, 4U, ~0U, 0U);
        char c;
        while (::read(3, &c, 1) != 0) {
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[0]);
    watchdogPipe_ = fds[1];
    watchdog_ = pid;
    return true;
}

} // namespace kalvor::test
