// Reader faults that strike while the program runs, switched on through the
// simulator topic: an ADC that stops converting ends the program in order
// with message 1007; a head pulled out of its socket does not stop the readings.
#include "faults/FaultSupport.h"

#include "core/MessageCatalog.h"
#include "app/ProgramEnd.h"

#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

namespace {

class HardwareFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isBuilt("kalvor"))
            GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
        ASSERT_TRUE(box.isValid());
    }
    Sandbox box;
};

TEST_F(HardwareFaults, StuckAdcEndsInOrderWith1007)
{
    const QString trace = box.dir() + QStringLiteral("/ports.trace");
    Child program(box, "kalvor", {"--simulate", "--port-trace=" + trace}, "kalvor");
    ASSERT_TRUE(waitServing(program, box.socketPath())) << program.standardError().toStdString();
    LineClient c;
    ASSERT_TRUE(c.open(box.socketPath()));
    ASSERT_TRUE(subscribeAndWaitReading(c)) << program.standardError().toStdString();

    // The reply may be lost: the program ends at the next reading, at once.
    ASSERT_TRUE(c.sendLine("PUT simulator adc \"stuck\""));
    const std::optional<int> status = program.waitExit(5000);
    const QByteArray err = program.standardError();
    ASSERT_EQ(status, std::optional<int>(exitcode::CardFailed)) << err.toStdString();

    const QString message = loadText(1007) + loadText(1000) + QStringLiteral("1007-A");
    EXPECT_TRUE(err.contains(message.toLocal8Bit())) << err.toStdString();
    // The end came by Form_Unload: the control register cleared last of all,
    // position and gain stored, and the link socket removed.
    const std::vector<TraceLine> lines = readTrace(trace);
    ASSERT_FALSE(lines.empty());
    const TraceLine& last = lines.back();
    EXPECT_EQ(last.kind, 'W');
    EXPECT_EQ(last.port, 0x303u);
    EXPECT_EQ(last.value, 0u);
    // A simulated session stores in its own section; the card's stays as it was.
    QSettings stored(box.confPath(), QSettings::IniFormat);
    for (const char* key : {"Simulated/ScreenLeft", "Simulated/ScreenTop", "Simulated/GainSN1500"})
        EXPECT_TRUE(stored.contains(QLatin1String(key))) << key << " in\n" << box.settingsText().toStdString();
    EXPECT_EQ(stored.value(QStringLiteral("Simulated/GainSN1500")).toString(), QStringLiteral("1.9"));
    EXPECT_EQ(stored.value(QStringLiteral("Properties/Port")).toString(), QStringLiteral("768"));
    EXPECT_FALSE(stored.contains(QStringLiteral("Properties/GainSN1500"))) << box.settingsText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(box.socketPath()));
    // The client learns that the program is gone.
    while (c.readLine(1000)) {
    }
    EXPECT_TRUE(c.atEnd());
}

TEST_F(HardwareFaults, UnpluggedHeadLeavesTheReadingsRunning)
{
    Child program(box, "kalvor", {"--simulate"}, "kalvor");
    ASSERT_TRUE(waitServing(program, box.socketPath())) << program.standardError().toStdString();
    LineClient c;
    ASSERT_TRUE(c.open(box.socketPath()));
    ASSERT_TRUE(subscribeAndWaitReading(c)) << program.standardError().toStdString();

    EXPECT_EQ(text(c.ask("PUT simulator head \"unplugged\"", "OK PUT")), "OK PUT simulator head");
    const std::optional<QByteArray> head = c.ask("GET simulator head", "VALUE ");
    ASSERT_TRUE(head && ItemLine::parse(*head));
    EXPECT_EQ(text(ItemLine::parse(*head)->text()), "unplugged");

    // Four more readings, one after another, each an absorbance text.
    const QRegularExpression absorbance(QStringLiteral("^(>3\\.0|[ -]?\\d+\\.\\d{3})$"));
    std::optional<ItemLine> previous = nextUpdate(c, 3000);
    ASSERT_TRUE(previous) << program.standardError().toStdString();
    for (int i = 0; i < 4; ++i) {
        const std::optional<ItemLine> u = nextUpdate(c, 3000);
        ASSERT_TRUE(u) << "reading " << i << " did not come; " << program.standardError().toStdString();
        EXPECT_EQ(u->seq, previous->seq + 1);
        EXPECT_TRUE(absorbance.match(QString::fromUtf8(u->text())).hasMatch()) << u->value.toStdString();
        previous = u;
    }
    EXPECT_EQ(text(c.ask("PING", "PONG")), "PONG");
    EXPECT_TRUE(program.running());
    EXPECT_EQ(program.terminate(), std::optional<int>(exitcode::Ok)) << program.standardError().toStdString();
}

} // namespace
