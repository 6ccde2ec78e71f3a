#include "core/SettingsStore.h"

#include "core/PrintableText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kalvor {

namespace {
const QString kSection = QStringLiteral("Properties");
const QString kSimulatedSection = QStringLiteral("Simulated");

QString fullKey(const QString& section, const QString& key) { return section + QLatin1Char('/') + key; }
QString fullKey(const QString& key) { return fullKey(kSection, key); }
} // namespace

SettingsError::SettingsError(const QString& k, const QString& v, const QString& f, const QString& sec)
    : std::runtime_error(QStringLiteral("setting %1 = \"%2\" in %3 is not a valid number")
                             .arg(k, v, f)
                             .toStdString()),
      key(k), value(v), file(f), section(sec)
{
}

SettingsError::SettingsError(Unreadable, const QString& f, const QString& r)
    : std::runtime_error(QStringLiteral("settings file %1 cannot be read: %2").arg(f, r).toStdString()),
      file(f), reason(r)
{
}

SettingsError SettingsError::unreadable(const QString& file, const QString& reason)
{
    return SettingsError(Unreadable{}, file, reason);
}

QString SettingsError::report() const
{
    if (!reason.isEmpty())
        return QStringLiteral("KALVOR cannot start: its settings file %1 cannot be read: %2.\n"
                              "Nothing was changed. Make it a readable file of your own (or move it away to "
                              "start with fresh settings) and start KALVOR again.")
            .arg(printableText(file), reason);
    const QString hint = key.startsWith(keys::GainSNPrefix)
                             ? QStringLiteral(" (a head's gain is a positive number, such as 1.9)")
                         : key.startsWith(keys::ZeroSNPrefix)
                             ? QStringLiteral(" (a head's last good zero is a positive number of volts, such as 1.2)")
                             : QString();
    return QStringLiteral("KALVOR cannot start: the setting \"%1\" holds \"%2\", which is not "
                          "a valid number%4.\nSettings file: %3 (section [%5]).\n"
                          "Correct or remove that line and start KALVOR again; nothing was written.")
        .arg(printableText(key), printableText(value), printableText(file), hint, section);
}

SettingsStore::SettingsStore(Session session) : SettingsStore(defaultFilePath(), systemFilePaths(), session) {}

namespace {
const QString& checkedReadable(const QString& path)
{
    if (const std::optional<QString> why = SettingsStore::unreadableReason(path))
        throw SettingsError::unreadable(path, *why);
    return path;
}
} // namespace

SettingsStore::SettingsStore(const QString& filePath, const QStringList& defaultFiles, Session session)
    : section_(session == Session::Simulated ? kSimulatedSection : kSection),
      settings_(std::make_unique<QSettings>(checkedReadable(filePath), QSettings::IniFormat))
{
    for (const QString& file : defaultFiles)
        defaults_.push_back(std::make_unique<QSettings>(checkedReadable(file), QSettings::IniFormat));
}

std::optional<QString> SettingsStore::unreadableReason(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(QString::fromLocal8Bit(std::strerror(errno)));
    // Opened without waiting (a FIFO would wait for a writer) and looked at
    // through the descriptor, so the file checked is the file opened.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const bool fstatOk = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!fstatOk)
        return QStringLiteral("its type cannot be told");
    if (S_ISREG(st.st_mode))
        return std::nullopt;
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a FIFO (named pipe), not a file");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("it is not a regular file");
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/KALVOR/KALVOR.conf");
}

QStringList SettingsStore::systemFilePaths()
{
    // The XDG base directories: a colon-separated list, most important first;
    // relative entries are ignored, and an empty list means /etc/xdg.
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    QStringList files;
    for (const QString& dir : dirs)
        files << QDir::cleanPath(dir + QStringLiteral("/KALVOR/KALVOR.conf"));
    files.removeDuplicates();
    return files;
}

QString SettingsStore::filePath() const { return settings_->fileName(); }

SettingsStore::Holder SettingsStore::holder(const QString& key) const
{
    if (settings_->contains(fullKey(section_, key)))
        return {settings_.get(), section_};
    if (section_ != kSection && settings_->contains(fullKey(key)))
        return {settings_.get(), kSection};
    for (const auto& d : defaults_)
        if (d->contains(fullKey(key)))
            return {d.get(), kSection};
    return {};
}

QString SettingsStore::sectionOf(const QString& key) const
{
    const Holder h = holder(key);
    return h.settings ? h.section : section_;
}

QString SettingsStore::sourceOf(const QString& key) const
{
    const Holder h = holder(key);
    return (h.settings ? h.settings : settings_.get())->fileName();
}

QString SettingsStore::readSetting(const QString& key, const QString& defaultValue) const
{
    const Holder h = holder(key);
    const QVariant v = h.settings ? h.settings->value(fullKey(h.section, key)) : QVariant();
    if (!v.isValid())
        return defaultValue;
    // A value with a comma reads back as a list from an INI file; join it again.
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void SettingsStore::writeSetting(const QString& key, const QString& value)
{
    const Holder h = holder(key);
    if (h.settings && (h.settings != settings_.get() || h.section != section_) && readSetting(key, {}) == value)
        return;
    settings_->setValue(fullKey(section_, key), value);
    written_.insert(key, value);
}

bool SettingsStore::contains(const QString& key) const { return holder(key).settings != nullptr; }

void SettingsStore::sync()
{
    if (!written_.isEmpty())
        createPrivately();
    settings_->sync();
}

void SettingsStore::createPrivately() const
{
    const QString path = filePath();
    if (QFileInfo::exists(path))
        return; // the user's file, as the user keeps it
    // Each missing folder 0700, then the empty file 0600; QSettings keeps the
    // mode of the file it replaces.
    QStringList missing;
    for (QDir dir = QFileInfo(path).dir(); !dir.exists() && !dir.isRoot(); dir.setPath(QFileInfo(dir.path()).path()))
        missing.prepend(dir.path());
    for (const QString& folder : std::as_const(missing))
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            ::chmod(QFile::encodeName(folder).constData(), 0700); // mkdir applied the umask
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600); // open() applied the umask
        ::close(fd);
    }
}

namespace {
QString storedText(const QSettings& s, const QString& section, const QString& key)
{
    const QVariant v = s.value(fullKey(section, key));
    if (!v.isValid())
        return QString();
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}
} // namespace

QStringList SettingsStore::lostValues() const
{
    QStringList lost;
    if (written_.isEmpty())
        return lost;
    // What the file holds now. QSettings shares one cache per file name within
    // the process, values not yet stored included; the same file read under
    // another name (its descriptor) bypasses that cache.
    const QString path = filePath();
    const int fd = unreadableReason(path)
                       ? -1
                       : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const QString byDescriptor = QStringLiteral("/proc/self/fd/%1").arg(fd);
    if (fd >= 0 && !QFileInfo::exists(byDescriptor)) {
        // No /proc: the store's own word is all there is.
        ::close(fd);
        if (settings_->status() != QSettings::NoError)
            for (auto it = written_.cbegin(); it != written_.cend(); ++it)
                lost << it.key() + QLatin1Char('=') + it.value();
        return lost;
    }
    std::unique_ptr<QSettings> onDisk;
    if (fd >= 0)
        onDisk = std::make_unique<QSettings>(byDescriptor, QSettings::IniFormat);
    for (auto it = written_.cbegin(); it != written_.cend(); ++it) {
        if (!onDisk || !onDisk->contains(fullKey(section_, it.key()))
            || storedText(*onDisk, section_, it.key()) != it.value())
            lost << it.key() + QLatin1Char('=') + it.value();
    }
    onDisk.reset();
    if (fd >= 0)
        ::close(fd);
    return lost;
}

std::optional<double> SettingsStore::parseNumber(const QString& text)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    // Accept one comma as the decimal separator (a value written under another locale).
    if (t.count(QLatin1Char(',')) == 1 && !t.contains(QLatin1Char('.')))
        t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<std::int16_t> SettingsStore::parseInt16(const QString& text)
{
    // QString::toInt stops at a NUL character, so "768", NUL, "x" would read
    // as 768 (the file line Port=768\0x gives that text): it is no number.
    if (text.contains(QChar(u'\0')))
        return std::nullopt;
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok || v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(v);
}

QString SettingsStore::formatSingle(float value) { return QString::number(double(value), 'g', 7); }

QString SettingsStore::formatDouble(double value) { return QString::number(value, 'g', 15); }

std::int16_t SettingsStore::port() const
{
    const QString text = readSetting(keys::Port, QStringLiteral("0"));
    const auto v = parseInt16(text);
    if (!v)
        throw SettingsError(keys::Port, text, sourceOf(keys::Port), sectionOf(keys::Port));
    return *v;
}

namespace {
float readSingle(const SettingsStore& s, const QString& key)
{
    const QString text = s.readSetting(key, QStringLiteral("100"));
    const auto v = SettingsStore::parseNumber(text);
    if (!v || std::fabs(*v) > std::numeric_limits<float>::max())
        throw SettingsError(key, text, s.sourceOf(key), s.sectionOf(key));
    return static_cast<float>(*v);
}
} // namespace

float SettingsStore::screenLeft() const { return readSingle(*this, keys::ScreenLeft); }
float SettingsStore::screenTop() const { return readSingle(*this, keys::ScreenTop); }

QString SettingsStore::display() const { return readSetting(keys::Display, QStringLiteral("Primary")); }

double SettingsStore::positiveNumber(const QString& key, const QString& text, const QString& file) const
{
    const auto v = parseNumber(text);
    if (!v || *v <= 0 || !std::isnormal(*v))
        throw SettingsError(key, text, file, sectionOf(key));
    return *v;
}

double SettingsStore::gain(const QString& serial, double recordGain) const
{
    // A subnormal gain is as good as none: readings divided by it overflow.
    const QString key = keys::GainSNPrefix + serial;
    return positiveNumber(key, readSetting(key, formatDouble(recordGain)), filePath());
}

QString SettingsStore::lastGoodZeroKey(const QString& serial, const QString& wavelength)
{
    return keys::ZeroSNPrefix + serial + QStringLiteral("WL") + wavelength;
}

std::optional<double> SettingsStore::lastGoodZero(const QString& serial, const QString& wavelength) const
{
    const QString key = lastGoodZeroKey(serial, wavelength);
    if (!contains(key))
        return std::nullopt;
    return positiveNumber(key, readSetting(key, QString()), sourceOf(key));
}

void SettingsStore::setPort(std::int16_t port) { writeSetting(keys::Port, QString::number(port)); }

void SettingsStore::setScreenPosition(float left, float top)
{
    writeSetting(keys::ScreenLeft, formatSingle(left));
    writeSetting(keys::ScreenTop, formatSingle(top));
}

void SettingsStore::setDisplay(const QString& display) { writeSetting(keys::Display, display); }

void SettingsStore::setGain(const QString& serial, double gain)
{
    writeSetting(keys::GainSNPrefix + serial, formatDouble(gain));
}

void SettingsStore::setLastGoodZero(const QString& serial, const QString& wavelength, double volts)
{
    // As the reader topic shows a zero: four decimals, a tenth of a millivolt.
    writeSetting(lastGoodZeroKey(serial, wavelength), QString::number(volts, 'f', 4));
}

} // namespace kalvor
