// The per-user settings file: where it lives, defaults (its own and those of
// the system-wide file), round trips, the number text form and what a bad
// stored number does.
#include "core/SettingsStore.h"
#include "support/TempSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kalvor;
using kalvor::test::TempSettings;

namespace {
std::string str(const QString& s) { return s.toStdString(); }

struct DefaultLocale {
    QLocale saved;
    explicit DefaultLocale(const QLocale& l) { QLocale::setDefault(l); }
    ~DefaultLocale() { QLocale::setDefault(saved); }
};
} // namespace

TEST(SettingsStore, LivesInConfigHomeUnderSectionProperties)
{
    TempSettings temp;
    ASSERT_TRUE(temp.isValid());
    {
        SettingsStore store;
        EXPECT_EQ(str(store.filePath()), str(temp.filePath()));
        store.setPort(768);
        store.sync();
    }
    const QByteArray text = temp.fileText();
    EXPECT_TRUE(text.contains("[Properties]")) << text.constData();
    EXPECT_TRUE(text.contains("Port=768")) << text.constData();
}

TEST(SettingsStore, EmptyStoreGivesTheDefaults)
{
    TempSettings temp;
    SettingsStore store;
    EXPECT_EQ(store.port(), 0);
    EXPECT_EQ(store.screenLeft(), 100.0f);
    EXPECT_EQ(store.screenTop(), 100.0f);
    EXPECT_EQ(str(store.display()), "Primary");
    EXPECT_DOUBLE_EQ(store.gain(QStringLiteral("1234"), 1.9), 1.9);
    EXPECT_FALSE(store.contains(QStringLiteral("GainSN1234")));
    EXPECT_EQ(str(store.readSetting(QStringLiteral("Nothing"), QStringLiteral("dflt"))), "dflt");
    EXPECT_TRUE(temp.fileText().isEmpty()); // reading creates nothing
}

TEST(SettingsStore, ValuesSurviveToTheNextRun)
{
    TempSettings temp;
    {
        SettingsStore store;
        store.setPort(0x3E0);
        store.setScreenPosition(1234.5f, -60.25f);
        store.setDisplay(QStringLiteral("Secondary"));
        store.setGain(QStringLiteral("1500"), 1.87);
        store.setGain(QStringLiteral("1600"), 2.0);
    }
    SettingsStore next;
    EXPECT_EQ(next.port(), 0x3E0);
    EXPECT_EQ(next.screenLeft(), 1234.5f);
    EXPECT_EQ(next.screenTop(), -60.25f);
    EXPECT_EQ(str(next.display()), "Secondary");
    EXPECT_DOUBLE_EQ(next.gain(QStringLiteral("1500"), 1.0), 1.87);
    EXPECT_DOUBLE_EQ(next.gain(QStringLiteral("1600"), 1.0), 2.0);
    const QByteArray text = temp.fileText();
    EXPECT_TRUE(text.contains("GainSN1500=1.87")) << text.constData();
    EXPECT_TRUE(text.contains("GainSN1600=2")) << text.constData();
    EXPECT_TRUE(text.contains("Port=992")) << text.constData();
}

TEST(SettingsStore, NumbersAreWrittenWithAPointUnderAGermanLocale)
{
    TempSettings temp;
    DefaultLocale german{QLocale(QLocale::German)};
    {
        SettingsStore store;
        store.setGain(QStringLiteral("1500"), 1.9);
        store.setScreenPosition(1234.5f, 100.0f);
    }
    const QByteArray text = temp.fileText();
    EXPECT_TRUE(text.contains("GainSN1500=1.9")) << text.constData();
    EXPECT_TRUE(text.contains("ScreenLeft=1234.5")) << text.constData();
    EXPECT_FALSE(text.contains("1,9")) << text.constData();
    SettingsStore again;
    EXPECT_DOUBLE_EQ(again.gain(QStringLiteral("1500"), 1.0), 1.9);
}

TEST(SettingsStore, ACommaWrittenByAnotherLocaleReadsAsADecimalSeparator)
{
    TempSettings temp;
    temp.writeFileText("[Properties]\nGainSN1500=1,9\nScreenLeft=\"2,5\"\n");
    SettingsStore store;
    EXPECT_DOUBLE_EQ(store.gain(QStringLiteral("1500"), 1.0), 1.9);
    EXPECT_EQ(store.screenLeft(), 2.5f);
}

TEST(SettingsStore, BadNumbersThrowAReportNamingKeyValueAndFile)
{
    const std::pair<QByteArray, QString> cases[] = {
        {"Port=abc", QStringLiteral("Port")},
        {"Port=40000", QStringLiteral("Port")},
        {"Port=0x300", QStringLiteral("Port")},
        {"ScreenLeft=left", QStringLiteral("ScreenLeft")},
        {"ScreenTop=1e60", QStringLiteral("ScreenTop")},
    };
    for (const auto& [line, key] : cases) {
        TempSettings temp;
        temp.writeFileText("[Properties]\n" + line + "\n");
        SettingsStore store;
        const QString value = QString::fromLatin1(line.mid(line.indexOf('=') + 1));
        try {
            if (key == QStringLiteral("Port"))
                store.port();
            else if (key == QStringLiteral("ScreenLeft"))
                store.screenLeft();
            else
                store.screenTop();
            ADD_FAILURE() << "no error for " << line.constData();
        } catch (const SettingsError& e) {
            EXPECT_EQ(str(e.key), str(key));
            EXPECT_EQ(str(e.value), str(value));
            const QString report = e.report();
            EXPECT_TRUE(report.contains(key)) << str(report);
            EXPECT_TRUE(report.contains(value)) << str(report);
            EXPECT_TRUE(report.contains(temp.filePath())) << str(report);
        }
    }
}

TEST(SettingsStore, GainKeepsFifteenSignificantDigitsThroughAStoreAndALoad)
{
    TempSettings temp;
    const double gain = 1.23456789012345;
    {
        SettingsStore store;
        store.setGain(QStringLiteral("1500"), gain);
        store.setGain(QStringLiteral("1600"), 0.000123456789012345);
    }
    EXPECT_TRUE(temp.fileText().contains("GainSN1500=1.23456789012345\n")) << temp.fileText().constData();
    SettingsStore store;
    EXPECT_EQ(store.gain(QStringLiteral("1500"), 1.0), gain);
    EXPECT_EQ(store.gain(QStringLiteral("1600"), 1.0), 0.000123456789012345);
}

TEST(SettingsStore, GainKeyIsPrefixAndSerialWithNoSeparator)
{
    TempSettings temp;
    {
        SettingsStore store;
        store.setGain(QString(), 1.5);
        store.setGain(QStringLiteral("1234"), 1.9);
    }
    SettingsStore store;
    EXPECT_TRUE(store.contains(QStringLiteral("GainSN")));
    EXPECT_TRUE(store.contains(QStringLiteral("GainSN1234")));
    EXPECT_DOUBLE_EQ(store.gain(QString(), 1.0), 1.5);
    EXPECT_DOUBLE_EQ(store.gain(QStringLiteral("1234"), 1.0), 1.9);
    EXPECT_TRUE(temp.fileText().contains("GainSN=1.5"));
}

TEST(SettingsStore, APortWithANulIsNoNumber)
{
    // The INI escape \0 puts a NUL into the text; the number must not end there.
    EXPECT_FALSE(SettingsStore::parseInt16(QStringLiteral("768") + QChar(u'\0') + QStringLiteral("x")));
    TempSettings temp;
    temp.writeFileText("[Properties]\nPort=768\\0x\n");
    SettingsStore store;
    EXPECT_THROW(store.port(), SettingsError);
}

TEST(SettingsStore, LostValuesAreThoseTheFileDoesNotHoldAfterTheStore)
{
    TempSettings temp;
    temp.writeFileText("[Properties]\nPort=768\nScreenLeft=100\n");
    SettingsStore store;
    store.writeSetting(QStringLiteral("ScreenLeft"), QStringLiteral("100")); // as it was
    store.writeSetting(QStringLiteral("Display"), QStringLiteral("Primary"));
    store.sync();
    EXPECT_TRUE(store.lostValues().isEmpty());

    // The folder is gone, a file stands in its place: nothing can be stored.
    const QString folder = QFileInfo(temp.filePath()).absolutePath();
    ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".away")));
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    store.writeSetting(QStringLiteral("ScreenTop"), QStringLiteral("1500"));
    store.sync();
    EXPECT_EQ(store.lostValues(), (QStringList{QStringLiteral("Display=Primary"), QStringLiteral("ScreenLeft=100"),
                                               QStringLiteral("ScreenTop=1500")}));
}

TEST(SettingsStore, FileAndFolderArePrivateWhateverTheUmask)
{
    // Under umask 0277 a file made as the umask says is 0400: every later
    // session could not store its values.
    TempSettings temp;
    const mode_t old = ::umask(0277);
    {
        SettingsStore store;
        store.setPort(768);
        store.sync();
    }
    ::umask(old);
    struct stat file {}, folder {};
    ASSERT_EQ(::stat(QFile::encodeName(temp.filePath()).constData(), &file), 0);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(temp.filePath()).path()).constData(), &folder), 0);
    EXPECT_EQ(file.st_mode & 07777, mode_t(0600));
    EXPECT_EQ(folder.st_mode & 07777, mode_t(0700));

    SettingsStore next;
    next.setPort(512);
    next.sync();
    EXPECT_TRUE(next.lostValues().isEmpty()) << str(next.lostValues().join(' '));
    ASSERT_EQ(::stat(QFile::encodeName(temp.filePath()).constData(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, mode_t(0600)) << "a store keeps the file's mode";
}

TEST(SettingsStore, ASimulatedSessionStoresOnlyInItsOwnSection)
{
    TempSettings temp;
    temp.writeSystemFileText("[Properties]\nGainSN2000=2.2\n");
    const QByteArray card = "[Properties]\nPort=768\nGainSN1500=1.87\n";
    temp.writeFileText(card);
    {
        SettingsStore simulated(SettingsStore::Session::Simulated);
        EXPECT_EQ(simulated.port(), 768); // the card's values, until it has its own
        EXPECT_DOUBLE_EQ(simulated.gain(QStringLiteral("1500"), 1.9), 1.87);
        simulated.setPort(512);
        simulated.setGain(QStringLiteral("1500"), 1.9);
        simulated.setGain(QStringLiteral("2000"), 2.2); // what the lab gives: not pinned
        simulated.sync();
        EXPECT_TRUE(simulated.lostValues().isEmpty()) << str(simulated.lostValues().join(' '));
    }
    const QSettings file(temp.filePath(), QSettings::IniFormat);
    EXPECT_EQ(file.value(QStringLiteral("Properties/Port")).toString(), QStringLiteral("768"));
    EXPECT_EQ(file.value(QStringLiteral("Properties/GainSN1500")).toString(), QStringLiteral("1.87"));
    EXPECT_EQ(file.value(QStringLiteral("Simulated/Port")).toString(), QStringLiteral("512"));
    EXPECT_EQ(file.value(QStringLiteral("Simulated/GainSN1500")).toString(), QStringLiteral("1.9"));
    EXPECT_FALSE(file.contains(QStringLiteral("Simulated/GainSN2000")));

    EXPECT_EQ(SettingsStore().port(), 768);
    EXPECT_EQ(SettingsStore(SettingsStore::Session::Simulated).port(), 512);
}

// ---- defaults an administrator sets for every account ----------------------

TEST(SettingsStore, SystemFileGivesDefaultsAndTheUserFileWins)
{
    TempSettings temp;
    const QByteArray system = "[Properties]\nPort=512\nGainSN1500=1.85\nDisplay=Secondary\n";
    temp.writeSystemFileText(system);
    temp.writeFileText("[Properties]\nDisplay=Primary\n");
    {
        SettingsStore store;
        EXPECT_EQ(store.port(), 512);
        EXPECT_DOUBLE_EQ(store.gain(QStringLiteral("1500"), 1.0), 1.85);
        EXPECT_EQ(str(store.display()), "Primary");
        EXPECT_EQ(str(store.sourceOf(keys::Port)), str(temp.systemFilePath()));
        EXPECT_EQ(str(store.sourceOf(keys::Display)), str(temp.filePath()));

        store.setPort(0x300);                           // the user's own choice
        store.setGain(QStringLiteral("1500"), 1.85);    // only what the lab gives
        store.setScreenPosition(200, 300);
        store.sync();
    }
    EXPECT_EQ(temp.systemFileText(), system) << "the system file is only read";
    const QByteArray user = temp.fileText();
    EXPECT_TRUE(user.contains("Port=768")) << user.constData();
    EXPECT_FALSE(user.contains("GainSN1500")) << "an inherited value is not pinned: " << user.constData();

    // The lab recalibrates the head: the account follows; its own Port stays.
    temp.writeSystemFileText("[Properties]\nPort=512\nGainSN1500=1.9\n");
    SettingsStore next;
    EXPECT_DOUBLE_EQ(next.gain(QStringLiteral("1500"), 1.0), 1.9);
    EXPECT_EQ(next.port(), 0x300);
}

TEST(SettingsStore, SystemDirectoriesFollowXdgConfigDirs)
{
    TempSettings temp;
    qputenv("XDG_CONFIG_DIRS", "/opt/lab/xdg:relative/dir::/etc/xdg/");
    EXPECT_EQ(SettingsStore::systemFilePaths(),
              QStringList({QStringLiteral("/opt/lab/xdg/KALVOR/KALVOR.conf"),
                           QStringLiteral("/etc/xdg/KALVOR/KALVOR.conf")}));
    qputenv("XDG_CONFIG_DIRS", "");
    EXPECT_EQ(SettingsStore::systemFilePaths(), QStringList(QStringLiteral("/etc/xdg/KALVOR/KALVOR.conf")));

    // The first folder that holds a key gives it.
    const QString first = temp.configHome() + QStringLiteral("/first.conf");
    const QString second = temp.configHome() + QStringLiteral("/second.conf");
    QSettings(first, QSettings::IniFormat).setValue(QStringLiteral("Properties/Port"), 512);
    QSettings(second, QSettings::IniFormat).setValue(QStringLiteral("Properties/Port"), 768);
    QSettings(second, QSettings::IniFormat).setValue(QStringLiteral("Properties/ScreenTop"), 40);
    SettingsStore store(temp.filePath(), {first, second});
    EXPECT_EQ(store.port(), 512);
    EXPECT_EQ(store.screenTop(), 40.0f);
}

TEST(SettingsStore, ABadSystemValueIsReportedWithTheSystemFile)
{
    TempSettings temp;
    temp.writeSystemFileText("[Properties]\nPort=three hundred\n");
    SettingsStore store;
    try {
        store.port();
        ADD_FAILURE() << "no error for a bad system-wide Port";
    } catch (const SettingsError& e) {
        EXPECT_EQ(str(e.file), str(temp.systemFilePath()));
    }
}
