#pragma once
// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the
// object, so SettingsStore() uses <tmp>/KALVOR/KALVOR.conf; restores the
// previous value (or its absence) afterwards.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

namespace kalvor::test {

class TempSettings {
public:
    TempSettings()
        : hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), previous_(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    }
    ~TempSettings()
    {
        if (hadPrevious_)
            qputenv("XDG_CONFIG_HOME", previous_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    bool isValid() const { return dir_.isValid(); }
    QString configHome() const { return dir_.path(); }
    QString filePath() const { return dir_.path() + QStringLiteral("/KALVOR/KALVOR.conf"); }

    // The settings file as text ("" when it does not exist).
    QByteArray fileText() const
    {
        QFile f(filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Writes the settings file as a user editing it by hand would.
    void writeFileText(const QByteArray& text) const
    {
        QDir().mkpath(dir_.path() + QStringLiteral("/KALVOR"));
        QFile f(filePath());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }

private:
    QTemporaryDir dir_;
    bool hadPrevious_;
    QByteArray previous_;
};

} // namespace kalvor::test
