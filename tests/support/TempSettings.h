#pragma once
// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the
// object, so SettingsStore() uses <tmp>/KALVOR/KALVOR.conf, and XDG_CONFIG_DIRS
// at <tmp>/system, so the machine's own system-wide defaults stay out of the
// tests; restores the previous values (or their absence) afterwards.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

namespace kalvor::test {

class TempSettings {
public:
    TempSettings()
        : hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), previous_(qgetenv("XDG_CONFIG_HOME")),
          hadPreviousDirs_(qEnvironmentVariableIsSet("XDG_CONFIG_DIRS")), previousDirs_(qgetenv("XDG_CONFIG_DIRS"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(systemDir()));
    }
    ~TempSettings()
    {
        restore("XDG_CONFIG_HOME", hadPrevious_, previous_);
        restore("XDG_CONFIG_DIRS", hadPreviousDirs_, previousDirs_);
    }
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    bool isValid() const { return dir_.isValid(); }
    QString configHome() const { return dir_.path(); }
    QString filePath() const { return dir_.path() + QStringLiteral("/KALVOR/KALVOR.conf"); }
    // The folder XDG_CONFIG_DIRS names, and the system-wide file in it.
    QString systemDir() const { return dir_.path() + QStringLiteral("/system"); }
    QString systemFilePath() const { return systemDir() + QStringLiteral("/KALVOR/KALVOR.conf"); }

    // The settings file as text ("" when it does not exist).
    QByteArray fileText() const
    {
        QFile f(filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Writes the settings file as a user editing it by hand would.
    void writeFileText(const QByteArray& text) const { write(filePath(), text); }
    // Writes the system-wide file as an administrator would.
    void writeSystemFileText(const QByteArray& text) const { write(systemFilePath(), text); }
    QByteArray systemFileText() const
    {
        QFile f(systemFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    static void write(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    static void restore(const char* name, bool had, const QByteArray& value)
    {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

    QTemporaryDir dir_;
    bool hadPrevious_;
    QByteArray previous_;
    bool hadPreviousDirs_;
    QByteArray previousDirs_;
};

} // namespace kalvor::test
