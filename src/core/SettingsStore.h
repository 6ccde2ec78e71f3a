#pragma once
// Per-user settings of KALVOR: section [Properties] of the INI file
// $XDG_CONFIG_HOME/KALVOR/KALVOR.conf (~/.config/KALVOR/KALVOR.conf by default).
// Values are text; numbers are written in the C locale and read accepting
// either decimal separator.
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

class QSettings;

namespace kalvor {

namespace keys {
inline const QString Port = QStringLiteral("Port");
inline const QString ScreenLeft = QStringLiteral("ScreenLeft");
inline const QString ScreenTop = QStringLiteral("ScreenTop");
inline const QString Display = QStringLiteral("Display");
inline const QString GainSNPrefix = QStringLiteral("GainSN");
} // namespace keys

// A stored value that does not convert to the number it must hold.
class SettingsError : public std::runtime_error {
public:
    SettingsError(const QString& key, const QString& value, const QString& file);
    QString key, value, file;
    QString report() const;
};

class SettingsStore {
public:
    SettingsStore();  // the user's settings file
    explicit SettingsStore(const QString& filePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString defaultFilePath();
    QString filePath() const;

    // The raw services: absent key gives the default.
    QString readSetting(const QString& key, const QString& defaultValue) const;
    void writeSetting(const QString& key, const QString& value);
    bool contains(const QString& key) const;
    void sync();

    // Typed access with the program's defaults. Each throws SettingsError when
    // the stored text does not convert.
    std::int16_t port() const;        // "Port", default 0
    float screenLeft() const;         // "ScreenLeft", default 100
    float screenTop() const;          // "ScreenTop", default 100
    QString display() const;          // "Display", default "Primary"
    // "GainSN"+serial. A stored value that is not a positive number is ignored.
    double gain(const QString& serial, double recordGain) const;

    void setPort(std::int16_t port);
    void setScreenPosition(float left, float top);
    void setDisplay(const QString& display);
    void setGain(const QString& serial, double gain);

    // Number text helpers shared with the parsers: C locale out, '.' or ',' in.
    static QString formatSingle(float value);
    static QString formatDouble(double value);
    static std::optional<double> parseNumber(const QString& text);
    static std::optional<std::int16_t> parseInt16(const QString& text);

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace kalvor
