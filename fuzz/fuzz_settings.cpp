// The conversion of stored settings fed arbitrary text (the input read as
// UTF-8). The text goes through the number helpers and, set in one store kept
// in memory, through the typed getters:
//  - port() returns the text's 16-bit number or throws SettingsError;
//    screenLeft() a finite float or SettingsError; gain() and lastGoodZero()
//    return the text's number when it is positive, finite and normal, and
//    throw SettingsError otherwise;
//  - numbers read by parseNumber are finite, and a gain written with setGain
//    reads back to within the 15 digits it is written with;
//  - a text parseInt16 accepts is the same number for parseNumber.
// An input starting with "F:" also goes through an INI file: the rest is
// written as the [Properties] values, read by a fresh store, and the getters
// must still only return in range or throw SettingsError.
#include "FuzzCheck.h"
#include "core/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

using namespace kalvor;

namespace {

constexpr double kRecordGain = 1.9;

QTemporaryDir& tempDir()
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    return dir;
}

SettingsStore& memoryStore()
{
    // One store for the whole run; values set in it stay in memory because
    // nothing syncs it before the end.
    static SettingsStore store(tempDir().filePath(QStringLiteral("memory.conf")));
    return store;
}

void checkPort(const SettingsStore& store, const std::optional<std::int16_t>& expected)
{
    try {
        const std::int16_t port = store.port();
        FUZZ_CHECK(expected && port == *expected);
    } catch (const SettingsError& e) {
        FUZZ_CHECK(!expected && e.key == keys::Port);
    }
}

// A float setting: the stored number when it fits a float, else SettingsError.
void checkScreenLeft(const SettingsStore& store, const QString& stored)
{
    const std::optional<double> number = SettingsStore::parseNumber(stored);
    const bool fits = number && std::fabs(*number) <= std::numeric_limits<float>::max();
    try {
        const float left = store.screenLeft();
        FUZZ_CHECK(fits && std::isfinite(left) && left == static_cast<float>(*number));
    } catch (const SettingsError& e) {
        FUZZ_CHECK(!fits && e.key == keys::ScreenLeft);
    }
}

void checkGain(const SettingsStore& store, const QString& stored)
{
    const std::optional<double> number = SettingsStore::parseNumber(stored);
    const bool valid = number && *number > 0 && std::isnormal(*number);
    try {
        const double gain = store.gain(QStringLiteral("1500"), kRecordGain);
        FUZZ_CHECK(valid && gain == *number);
    } catch (const SettingsError& e) {
        FUZZ_CHECK(!valid && e.key == QStringLiteral("GainSN1500"));
    }
}

void checkLastGoodZero(const SettingsStore& store, const QString& stored)
{
    const std::optional<double> number = SettingsStore::parseNumber(stored);
    const bool valid = number && *number > 0 && std::isnormal(*number);
    try {
        const std::optional<double> zero = store.lastGoodZero(QStringLiteral("1500"), QStringLiteral("510"));
        FUZZ_CHECK(valid && zero && *zero == *number);
    } catch (const SettingsError& e) {
        FUZZ_CHECK(!valid && e.key == QStringLiteral("ZeroSN1500WL510"));
    }
}

bool closeTo(double a, double b) { return std::fabs(a - b) <= 1e-14 * std::fabs(b); }

void inMemory(const QString& text)
{
    const std::optional<double> number = SettingsStore::parseNumber(text);
    if (number) {
        FUZZ_CHECK(std::isfinite(*number));
        const std::optional<double> again =
            SettingsStore::parseNumber(SettingsStore::formatDouble(*number));
        FUZZ_CHECK(again && closeTo(*again, *number));
    }
    const std::optional<std::int16_t> int16 = SettingsStore::parseInt16(text);
    if (int16)
        FUZZ_CHECK(number && *number == *int16);

    SettingsStore& store = memoryStore();
    store.writeSetting(keys::Port, text);
    FUZZ_CHECK(store.readSetting(keys::Port, QString()) == text);
    checkPort(store, int16);
    store.writeSetting(keys::ScreenLeft, text);
    checkScreenLeft(store, text);
    store.writeSetting(keys::GainSNPrefix + QStringLiteral("1500"), text);
    checkGain(store, text);
    store.writeSetting(QStringLiteral("ZeroSN1500WL510"), text);
    checkLastGoodZero(store, text);

    if (number && *number > 0 && std::isnormal(*number)) {
        store.setGain(QStringLiteral("1500"), *number);
        const double back = store.gain(QStringLiteral("1500"), kRecordGain);
        FUZZ_CHECK(closeTo(back, *number));
    }
}

void throughFile(const QByteArray& values)
{
    const QString path = tempDir().filePath(QStringLiteral("KALVOR.conf"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Properties]\nPort=" + values + "\nScreenLeft=" + values
                   + "\nGainSN1500=" + values + "\n");
    }
    const SettingsStore store(path);
    checkPort(store, SettingsStore::parseInt16(store.readSetting(keys::Port, QStringLiteral("0"))));
    checkScreenLeft(store, store.readSetting(keys::ScreenLeft, QStringLiteral("100")));
    // A value QSettings reads as none ("@Invalid()") counts as absent: the
    // record's gain.
    checkGain(store, store.readSetting(QStringLiteral("GainSN1500"), SettingsStore::formatDouble(kRecordGain)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool viaFile = input.startsWith("F:");
    if (viaFile)
        input = input.sliced(2);

    inMemory(QString::fromUtf8(input));
    if (viaFile)
        throughFile(input.toByteArray());
    return 0;
}
