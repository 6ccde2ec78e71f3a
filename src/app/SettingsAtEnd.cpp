#include "app/SettingsAtEnd.h"

#include "app/ProgramEnd.h"
#include "core/MessageSink.h"
#include "core/PrintableText.h"
#include "core/SettingsStore.h"
#include "ui/BoxMessageSink.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kalvor {

namespace {
QString owner(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || st.st_uid == ::geteuid())
        return QString();
    const passwd* pw = ::getpwuid(st.st_uid);
    return QStringLiteral(", which belongs to %1")
        .arg(pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("user id %1").arg(st.st_uid));
}
} // namespace

QString settingsWriteProblem(const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    const QString folderPath = QFileInfo(path).absolutePath();
    const QByteArray folder = QFile::encodeName(folderPath);
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0)
        return QStringLiteral("its folder %1 does not exist and could not be made").arg(printableText(folderPath));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(printableText(folderPath));
    if (::stat(file.constData(), &st) == 0 && ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0)
        return QStringLiteral("the file is read-only for you%1").arg(owner(file));
    // The file is replaced as a whole, by a new file written beside it.
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return QStringLiteral("its folder %1 is read-only for you%2").arg(printableText(folderPath), owner(folder));
    struct statvfs fs {};
    if (::statvfs(folder.constData(), &fs) == 0 && fs.f_bavail == 0)
        return QStringLiteral("the disk is full");
    return QStringLiteral("the file could not be written");
}

QString storeSettingsAtEnd(SettingsStore& settings)
{
    settings.sync();
    const QStringList lost = settings.lostValues();
    if (lost.isEmpty())
        return QString();
    noteEndFault(exitcode::SettingsNotStored);

    QStringList shown;
    for (const QString& v : lost)
        shown << printableText(v);
    const QString text = QStringLiteral("KALVOR could not store its settings in %1: %2.\n"
                                        "These values of this session are lost: %3.\n"
                                        "The file was left as it was. Enter the values by hand, or make the "
                                        "file and its folder writable so that the next end can store its values.")
                             .arg(printableText(settings.filePath()), settingsWriteProblem(settings.filePath()),
                                  shown.join(QStringLiteral(", ")));
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    // Without a screen the message seam writes to standard error, which has
    // been done just now.
    if (hasVisibleScreen())
        showMessage(text);
    return text;
}

} // namespace kalvor
