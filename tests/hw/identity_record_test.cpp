// parseEEPROM: the identity fields, their checks and messages, the stored
// gain and the wavelength captions.
#include "core/MessageCatalog.h"
#include "core/MessageSink.h"
#include "core/SettingsStore.h"
#include "hw/IdentityRecord.h"
#include "support/TempSettings.h"

#include <gtest/gtest.h>

using namespace kalvor;

namespace {

std::string str(const QString& s) { return s.toStdString(); }

std::vector<std::string> strs(const QStringList& l)
{
    std::vector<std::string> v;
    for (const QString& s : l)
        v.push_back(s.toStdString());
    return v;
}

// A record: the leading characters, blanks to 64.
QString image(const QString& leading) { return leading + QString(64 - leading.size(), QLatin1Char(' ')); }

struct Parse {
    test::TempSettings temp;
    SettingsStore settings;
    RecordingMessageSink sink;
    ReaderState state;
    IdentityCaptions captions;

    void run(const QString& rdrEEPROM)
    {
        state.rdrEEPROM = rdrEEPROM;
        captions = parseEEPROM(state, settings);
    }
};

} // namespace

TEST(IdentityRecord, DefaultRecordParsesWithoutMessages)
{
    Parse p;
    p.run(image(QStringLiteral("KALVOR15001.9510600")));
    EXPECT_EQ(str(p.state.rdrModel), "KALVOR");
    EXPECT_EQ(str(p.state.rdrSN), "1500");
    EXPECT_DOUBLE_EQ(p.state.rdrGain, 1.9);
    EXPECT_EQ(str(p.state.rdrWL1), "510");
    EXPECT_EQ(str(p.state.rdrWL2), "600");
    EXPECT_EQ(str(p.captions.lblA1), "510 nm");
    EXPECT_EQ(str(p.captions.lblA2), "600 nm");
    EXPECT_EQ(str(p.captions.mnuPrimary), "510 nm");
    EXPECT_EQ(str(p.captions.mnuSecondary), "600 nm");
    EXPECT_TRUE(p.sink.messages.isEmpty());
}

TEST(IdentityRecord, SerialNumberBoundsAndModelCase)
{
    for (const char* sn : {"1001", "1999"}) {
        Parse p;
        p.run(image(QStringLiteral("KALVOR") + sn + QStringLiteral("1.0400780")));
        EXPECT_TRUE(p.sink.messages.isEmpty()) << sn; // also WL 400 and 780 pass
        EXPECT_DOUBLE_EQ(p.state.rdrGain, 1.0);
    }
    const std::pair<const char*, const char*> bad[] = {
        {"KALVOR1000", "KALVOR 1000"}, {"KALVOR2000", "KALVOR 2000"}, {"Kalvor1500", "Kalvor 1500"},
        {"KALVOR    ", "KALVOR     "}, {"KALVOR15x0", "KALVOR 15x0"}};
    for (const auto& [leading, shown] : bad) {
        Parse p;
        p.run(image(QString::fromLatin1(leading) + QStringLiteral("1.9510600")));
        EXPECT_EQ(strs(p.sink.messages), std::vector{str(loadText(1101)) + shown}) << leading;
        EXPECT_EQ(str(p.state.rdrSN), std::string(leading + 6)); // kept as read
    }
}

TEST(IdentityRecord, UnknownGainGives1103AndGainOne)
{
    for (const char* gain : {"1.5", "2.0", "1,9", "   "}) {
        Parse p;
        p.run(image(QStringLiteral("KALVOR1500") + gain + QStringLiteral("510600")));
        EXPECT_EQ(strs(p.sink.messages), std::vector{str(loadText(1103)) + gain}) << gain;
        EXPECT_DOUBLE_EQ(p.state.rdrGain, 1.0);
    }
}

TEST(IdentityRecord, StoredGainForTheSerialReplacesTheRecordGain)
{
    for (const char* gain : {"1.9", "1.0", "1.5"}) {
        Parse p;
        p.settings.setGain(QStringLiteral("1500"), 1.85);
        p.settings.setGain(QStringLiteral("1600"), 2.5); // another head's gain is not used
        p.run(image(QStringLiteral("KALVOR1500") + gain + QStringLiteral("510600")));
        EXPECT_DOUBLE_EQ(p.state.rdrGain, 1.85) << gain;
    }
}

TEST(IdentityRecord, StoredGainThatIsNoPositiveFiniteNumberStopsTheStart)
{
    // Each would be lost at shut-down if it were passed over: the record's
    // gain would be stored in its place.
    for (const char* stored : {"abc", "-1.9", "0", "inf", "nan", "1e-320", ""}) {
        Parse p;
        p.settings.writeSetting(QStringLiteral("GainSN1500"), QString::fromLatin1(stored));
        try {
            p.run(image(QStringLiteral("KALVOR15001.9510600")));
            ADD_FAILURE() << "no error for " << stored << ", gain " << p.state.rdrGain;
        } catch (const SettingsError& e) {
            EXPECT_EQ(str(e.key), "GainSN1500");
            EXPECT_EQ(str(e.value), stored);
        }
    }
    Parse tiny;
    tiny.settings.writeSetting(QStringLiteral("GainSN1500"), QStringLiteral("1e-300"));
    tiny.run(image(QStringLiteral("KALVOR15001.9510600")));
    EXPECT_EQ(tiny.state.rdrGain, 1e-300);
}

TEST(IdentityRecord, WavelengthBoundsAndCaptionsDecidedPerWavelength)
{
    Parse p;
    p.run(image(QStringLiteral("KALVOR15001.9399600")));
    // The catalogue text ends in a blank and one more is added: two before 399.
    EXPECT_EQ(strs(p.sink.messages), std::vector{str(loadText(1102)) + " 399 600"});
    EXPECT_NE(p.sink.messages[0].indexOf(QStringLiteral("as:  399 600")), -1);
    EXPECT_EQ(str(p.captions.lblA1), "WL1");
    EXPECT_EQ(str(p.captions.mnuPrimary), "WL1 nm");
    EXPECT_EQ(str(p.captions.lblA2), "600 nm");
    EXPECT_EQ(str(p.captions.mnuSecondary), "600 nm");

    Parse q;
    q.run(image(QStringLiteral("KALVOR15001.9510781")));
    EXPECT_EQ(strs(q.sink.messages), std::vector{str(loadText(1102)) + " 510 781"});
    EXPECT_EQ(str(q.captions.lblA1), "510 nm");
    EXPECT_EQ(str(q.captions.lblA2), "WL2");
    EXPECT_EQ(str(q.captions.mnuSecondary), "WL2 nm");
}

TEST(IdentityRecord, SeveralBadFieldsGiveOneMessageEachInOrder)
{
    Parse p;
    p.run(image(QStringLiteral("KALVOR20002.0 5 abc")));
    ASSERT_EQ(p.sink.messages.size(), 3);
    EXPECT_TRUE(p.sink.messages[0].startsWith(loadText(1101)));
    EXPECT_TRUE(p.sink.messages[1].startsWith(loadText(1103)));
    EXPECT_EQ(str(p.sink.messages[2]), str(loadText(1102)) + "  5  abc"); // blanks count as no number
    EXPECT_EQ(str(p.captions.lblA1), "WL1");
    EXPECT_EQ(str(p.captions.lblA2), "WL2");
}

TEST(IdentityRecord, EmptyImageFailsEveryCheckWithoutCrashing)
{
    Parse p;
    p.run(QString());
    ASSERT_EQ(p.sink.messages.size(), 3);
    EXPECT_EQ(str(p.sink.messages[0]), str(loadText(1101)) + " ");
    EXPECT_EQ(str(p.sink.messages[1]), str(loadText(1103)));
    EXPECT_EQ(str(p.sink.messages[2]), str(loadText(1102)) + "  ");
    EXPECT_DOUBLE_EQ(p.state.rdrGain, 1.0);
    EXPECT_EQ(str(p.captions.mnuPrimary), "WL1 nm");
    EXPECT_EQ(str(p.captions.mnuSecondary), "WL2 nm");
}
