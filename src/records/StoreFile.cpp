#include "records/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace kalvor::records {

namespace {

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

QString ownerOf(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool hasContent(const QString& path)
{
    struct stat st {};
    return ::stat(nativePath(path).constData(), &st) == 0 && st.st_size > 0;
}

} // namespace

std::optional<FileStamp> stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(nativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

StoreFileProbe probeStoreFile(const QString& path)
{
    StoreFileProbe probe;
    const QByteArray native = nativePath(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            probe.kind = StoreFileProbe::Kind::Missing;
            probe.text = QStringLiteral("there is no record store at %1").arg(path);
        } else if (error == EACCES) {
            probe.kind = StoreFileProbe::Kind::NoAccess;
            probe.text = QStringLiteral("cannot reach %1: permission denied on a folder on the way to it").arg(path);
        } else {
            probe.kind = StoreFileProbe::Kind::NoAccess;
            probe.text = QStringLiteral("cannot reach %1: %2").arg(path, errnoText(error));
        }
        return probe;
    }
    if (!S_ISREG(st.st_mode)) {
        probe.kind = StoreFileProbe::Kind::NotAFile;
        probe.text = QStringLiteral("%1 is not a file").arg(path);
        return probe;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        probe.kind = StoreFileProbe::Kind::NoAccess;
        probe.text = error == EACCES || error == EPERM
                         ? QStringLiteral("cannot read %1: permission denied (it belongs to %2 and has mode %3)")
                               .arg(path, ownerOf(st.st_uid))
                               .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
                         : QStringLiteral("cannot read %1: %2").arg(path, errnoText(error));
        return probe;
    }
    unsigned char header[100] = {};
    ssize_t got = 0;
    int readError = 0;
    while (got < ssize_t(sizeof header)) {
        const ssize_t n = ::read(fd, header + got, sizeof header - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    if (readError) {
        probe.kind = StoreFileProbe::Kind::NoAccess;
        probe.text = QStringLiteral("cannot read %1: %2").arg(path, errnoText(readError));
    } else if (st.st_size == 0) {
        probe.kind = StoreFileProbe::Kind::Empty;
        probe.text = QStringLiteral("%1 is an empty file, not a KALVOR record store").arg(path);
    } else if (got < ssize_t(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0) {
        probe.kind = StoreFileProbe::Kind::NotSqlite;
        probe.text = QStringLiteral("%1 is damaged or no record store at all: it is not an SQLite database file").arg(path);
    } else {
        probe.kind = StoreFileProbe::Kind::Sqlite;
        // Bytes 18 and 19, the file format's write and read versions, are 2 in WAL mode.
        probe.walMode = header[18] == 2 && header[19] == 2;
    }
    return probe;
}

ReadAccess readAccessFor(const QString& path, bool walMode)
{
    if (!walMode)
        return ReadAccess::Immutable;
    const bool log = hasContent(path + QStringLiteral("-wal"));
    const bool index = QFileInfo::exists(path + QStringLiteral("-shm"));
    if (log && index)
        return ReadAccess::InPlace;
    return log ? ReadAccess::Copy : ReadAccess::Immutable;
}

bool storeWritable(const QString& path, QString* why)
{
    const QString folder = QFileInfo(path).absolutePath();
    struct statvfs fs {};
    if (::statvfs(nativePath(folder).constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) {
        *why = QStringLiteral("it is on a medium mounted read-only");
        return false;
    }
    if (::access(nativePath(path).constData(), W_OK) != 0) {
        *why = QStringLiteral("the file is read-only for you");
        return false;
    }
    if (::access(nativePath(folder).constData(), W_OK) != 0) {
        *why = QStringLiteral("its folder %1 is read-only for you").arg(folder);
        return false;
    }
    return true;
}

QString readOnlyUri(const QString& path, bool immutable)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(absolute, "/"))
           + (immutable ? QStringLiteral("?mode=ro&immutable=1") : QStringLiteral("?mode=ro"));
}

namespace {

// MemAvailable of /proc/meminfo in bytes; 0 when it cannot be read.
qint64 memoryAvailable()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : meminfo.readAll().split('\n'))
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

} // namespace

bool readAheadFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= memoryAvailable() / 2;
    if (read) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        std::vector<char> block(std::size_t(1) << 20);
        ssize_t n = 0;
        while ((n = ::read(fd, block.data(), block.size())) > 0 || (n < 0 && errno == EINTR)) {
        }
        read = n == 0;
    }
    ::close(fd);
    return read;
}

} // namespace kalvor::records
