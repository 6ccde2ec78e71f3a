#include "batch/BatchSettings.h"

#include "records/RecordStore.h"

#include <QDir>
#include <QSettings>

namespace kalvor::batch {

QString BatchSettings::filePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config) + QStringLiteral("/KALVOR/kalvor-batch.conf");
}

StabilityRule BatchSettings::rule()
{
    QSettings s(filePath(), QSettings::IniFormat);
    StabilityRule r;
    bool ok1 = false, ok2 = false, ok3 = false;
    StabilityRule stored;
    stored.count = s.value(QStringLiteral("Capture/Readings"), r.count).toString().toInt(&ok1);
    stored.band = s.value(QStringLiteral("Capture/Band"), r.band).toString().toDouble(&ok2);
    stored.timeoutMs = int(s.value(QStringLiteral("Capture/TimeoutSeconds"), r.timeoutMs / 1000.0).toString().toDouble(&ok3) * 1000);
    return ok1 && ok2 && ok3 && stored.isValid() ? stored : r;
}

void BatchSettings::setRule(const StabilityRule& rule)
{
    QSettings s(filePath(), QSettings::IniFormat);
    s.setValue(QStringLiteral("Capture/Readings"), QString::number(rule.count));
    s.setValue(QStringLiteral("Capture/Band"), QString::number(rule.band, 'g', QLocale::FloatingPointShortest));
    s.setValue(QStringLiteral("Capture/TimeoutSeconds"), QString::number(rule.timeoutMs / 1000.0, 'g', QLocale::FloatingPointShortest));
}

QString BatchSettings::store()
{
    QStringList files{filePath()};
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    for (const QString& dir : std::as_const(dirs))
        files << QDir::cleanPath(dir + QStringLiteral("/KALVOR/kalvor-batch.conf"));
    for (const QString& file : std::as_const(files)) {
        const QString value = QSettings(file, QSettings::IniFormat).value(QStringLiteral("Store")).toString().trimmed();
        if (!value.isEmpty())
            return value;
    }
    return records::RecordStore::defaultPath();
}

QString BatchSettings::storeHelp()
{
    return QStringLiteral("The record store: a file, or postgresql://[user@]host[:port]/dbname[?sslmode=...] "
                          "(the password from ~/.pgpass) (default: Store= in kalvor-batch.conf, else "
                          "$XDG_DATA_HOME/KALVOR/records.sqlite).");
}

} // namespace kalvor::batch
