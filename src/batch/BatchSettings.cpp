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

QStringList BatchSettings::filesInOrder()
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
    files.removeDuplicates();
    return files;
}

namespace {

QString firstValue(const QString& key)
{
    for (const QString& file : BatchSettings::filesInOrder()) {
        const QSettings s(file, QSettings::IniFormat);
        if (!s.contains(key))
            continue;
        // An unquoted value with commas reads as a list: it is one text.
        const QVariant v = s.value(key);
        return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
    }
    return {};
}

} // namespace

QString BatchSettings::labName() { return firstValue(QStringLiteral("Report/LabName")).trimmed(); }
QString BatchSettings::labAddress() { return firstValue(QStringLiteral("Report/LabAddress")).trimmed(); }

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
    for (const QString& file : filesInOrder()) {
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
