#pragma once
// Per-user settings of KALVOR: section [Properties] of the INI file
// $XDG_CONFIG_HOME/KALVOR/KALVOR.conf (~/.config/KALVOR/KALVOR.conf by default),
// over the defaults an administrator sets for every account in
// <dir>/KALVOR/KALVOR.conf for each dir of $XDG_CONFIG_DIRS (/etc/xdg by
// default). A key in the user's file wins; the system files are only read.
// Values are text; numbers are written in the C locale and read accepting
// either decimal separator.
//
// A session on the simulated reader keeps what it stores in section
// [Simulated] of the same file: it reads its values there first, then in
// [Properties] and the system files, and writes only there, so trying the
// simulator never changes the card's port or a head's gain.
//
// The file and any folder the store makes for it are private to the user
// (0600, 0700) whatever the umask: a file made read-only by the umask would
// lose every later session's values.
#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class QSettings;

namespace kalvor {

namespace keys {
inline const QString Port = QStringLiteral("Port");
inline const QString ScreenLeft = QStringLiteral("ScreenLeft");
inline const QString ScreenTop = QStringLiteral("ScreenTop");
inline const QString Display = QStringLiteral("Display");
inline const QString GainSNPrefix = QStringLiteral("GainSN");
inline const QString ZeroSNPrefix = QStringLiteral("ZeroSN");
} // namespace keys

// A stored value that does not convert to the number it must hold, or (with
// an empty key) a settings file that cannot be read at all.
class SettingsError : public std::runtime_error {
public:
    SettingsError(const QString& key, const QString& value, const QString& file,
                  const QString& section = QStringLiteral("Properties"));
    static SettingsError unreadable(const QString& file, const QString& reason);
    QString key, value, file;
    QString section; // the section that holds the bad value
    QString reason;  // why the file cannot be read; empty for a bad value
    // For the user; control characters in key, value and file name are
    // shown escaped (\xHH), so nothing of the report is cut off or hidden.
    QString report() const;

private:
    struct Unreadable {};
    SettingsError(Unreadable, const QString& file, const QString& reason);
};

class SettingsStore {
public:
    // Whose values: those of the card, or a simulated session's own.
    enum class Session { Card, Simulated };

    // The user's settings file over the system-wide defaults.
    explicit SettingsStore(Session session = Session::Card);
    // defaultFiles: read-only defaults, the first that holds a key gives it.
    // A file (the user's or a default) that exists but cannot be read as one
    // (no permission, a folder, a FIFO, a device) throws
    // SettingsError::unreadable before anything reads it, and is left as it is.
    explicit SettingsStore(const QString& filePath, const QStringList& defaultFiles = {},
                           Session session = Session::Card);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString defaultFilePath();
    static QStringList systemFilePaths();
    QString filePath() const;
    // The file the value of `key` comes from: a system file when only the
    // defaults hold it, else the user's file.
    QString sourceOf(const QString& key) const;
    // The section that value comes from ("Properties" or "Simulated").
    QString sectionOf(const QString& key) const;

    // The raw services: absent key gives the default. A write of the value the
    // system defaults already give, to a key the user's file does not hold, is
    // left out, so the account keeps following the administrator's value.
    QString readSetting(const QString& key, const QString& defaultValue) const;
    void writeSetting(const QString& key, const QString& value);
    bool contains(const QString& key) const;
    void sync();
    // After sync(): each value written by this program that the file does not
    // hold (the store failed: read-only folder or file, full disk), as
    // "key=value". Empty when everything written is in the file.
    QStringList lostValues() const;

    // Why an existing file at `path` cannot be read as a settings file;
    // nothing when it can be, or when there is no file. Never blocks.
    static std::optional<QString> unreadableReason(const QString& path);

    // Typed access with the program's defaults. Each throws SettingsError when
    // the stored text does not convert.
    std::int16_t port() const;        // "Port", default 0
    float screenLeft() const;         // "ScreenLeft", default 100
    float screenTop() const;          // "ScreenTop", default 100
    QString display() const;          // "Display", default "Primary"
    // "GainSN"+serial, default the record's gain. A stored value that is not
    // a positive, finite, normal number throws SettingsError.
    double gain(const QString& serial, double recordGain) const;
    // "ZeroSN"+serial+"WL"+wavelength (ZeroSN1500WL510): the zero in volts of
    // the last sound zero of that head at that wavelength; nothing when none
    // is stored. A stored value that is not a positive, finite, normal number
    // throws SettingsError.
    std::optional<double> lastGoodZero(const QString& serial, const QString& wavelength) const;
    static QString lastGoodZeroKey(const QString& serial, const QString& wavelength);

    void setPort(std::int16_t port);
    void setScreenPosition(float left, float top);
    void setDisplay(const QString& display);
    void setGain(const QString& serial, double gain);
    // Written with four decimals, e.g. 1.2003.
    void setLastGoodZero(const QString& serial, const QString& wavelength, double volts);

    // Number text helpers shared with the parsers: C locale out, '.' or ',' in.
    static QString formatSingle(float value);
    static QString formatDouble(double value);
    static std::optional<double> parseNumber(const QString& text);
    static std::optional<std::int16_t> parseInt16(const QString& text);

private:
    // The file and section whose value of `key` counts; null when none holds it.
    struct Holder {
        const QSettings* settings = nullptr;
        QString section;
    };
    Holder holder(const QString& key) const;
    // Makes the file (and its folders) private to the user before its first store.
    void createPrivately() const;
    // `text` of `key` as a positive, finite, normal number, else SettingsError naming `file`.
    double positiveNumber(const QString& key, const QString& text, const QString& file) const;

    QString section_; // where this session's values are written
    std::unique_ptr<QSettings> settings_;
    std::vector<std::unique_ptr<QSettings>> defaults_;
    QMap<QString, QString> written_; // every value written by this program, the last one per key
};

} // namespace kalvor
