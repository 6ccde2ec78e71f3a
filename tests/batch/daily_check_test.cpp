// The day's filter check before a batch, through the link as KALVOR serves
// the filter check: with `require` a batch reads no film after a failed check
// and does after a passing one; with `warn` it starts and the warning is an
// event of the batch; the setting comes from the user's file over the system's.
#include "batch/BatchTestSupport.h"

#include "batch/BatchSession.h"
#include "batch/BatchSettings.h"
#include "batch/QualityControl.h"
#include "records/QualityRecords.h"
#include "support/TempSettings.h"

#include <QSettings>
#include <QTest>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {

class DailyCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.open());
        ReferenceSet s;
        s.readerSerial = QStringLiteral("1500");
        s.wavelength = QStringLiteral("510 nm");
        s.light = 0.300;
        s.medium = 0.800;
        s.dark = 1.500;
        s.certificate = QStringLiteral("C-1");
        s.certificateDate = QDate(2026, 1, 5);
        QString why;
        ASSERT_TRUE(recordReferenceSet(store.store, s, QStringLiteral("qa"), &why)) << why.toStdString();
        kalvor.identity();
        kalvor.start();
        session = std::make_unique<BatchSession>(store.store, kalvor.socketPath);
        session->link().setRetryMs(50);
    }

    void connect(DailyCheckMode mode)
    {
        session->dailyCheck().setMode(mode);
        session->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return session->link().state() == LinkSession::State::Connected; }, 3000));
        QTest::qWait(60);
    }
    bool open(const QString& name)
    {
        BatchOptions o;
        o.name = name;
        QString why;
        return session->openBatch(o, &why);
    }
    // The filter check dialog's three results, as KALVOR serves them.
    void filterCheck(const char* light, const char* medium, const char* dark)
    {
        for (const auto& [item, value] : {std::pair{"na", light}, std::pair{"nb", medium}, std::pair{"nc", dark}}) {
            kalvor.data.set(QLatin1String(item), QLatin1String(value));
            QTest::qWait(40);
        }
        QTest::qWait(60);
    }
    void filmRead(const char* a)
    {
        kalvor.reader.set(QStringLiteral("dosimeter"), QStringLiteral("1"));
        for (int i = 0; i < 3; ++i) {
            kalvor.reading(QLatin1String(a));
            QTest::qWait(60);
        }
        kalvor.reader.set(QStringLiteral("dosimeter"), QStringLiteral("0"));
        QTest::qWait(60);
    }
    QStringList dailyCheckEvents()
    {
        QStringList out;
        for (const EventRecord& e : store.store.events())
            if (e.kind == event::DailyCheck)
                out << e.detail;
        return out;
    }

    TempStore store;
    FakeKalvor kalvor;
    std::unique_ptr<BatchSession> session;
};

} // namespace

TEST_F(DailyCheckTest, RequireHoldsTheBatchAfterAFailedCheckUntilACheckPasses)
{
    connect(DailyCheckMode::Require);
    filterCheck("0.301", "0.802", "1.531");  // dark 0.031 too dark
    ASSERT_TRUE(open(QStringLiteral("b1")));
    const Attention held = session->attention();
    EXPECT_EQ(held.kind, Attention::Kind::Held);
    EXPECT_TRUE(held.text.contains(QStringLiteral("failed its filter check"))) << held.text.toStdString();
    EXPECT_TRUE(held.text.contains(QStringLiteral("Neutral Density Filter Check"))) << held.text.toStdString();
    filmRead(" 0.500");
    EXPECT_TRUE(store.store.readings(session->batch().seq).isEmpty()) << "a held batch reads no film";

    filterCheck("0.300", "0.801", "1.503");
    EXPECT_EQ(session->attention().kind, Attention::Kind::None);
    filmRead(" 0.500");
    EXPECT_EQ(store.store.readings(session->batch().seq).size(), 1);
    const QStringList events = dailyCheckEvents();
    ASSERT_EQ(events.size(), 2);
    EXPECT_TRUE(events[0].startsWith(QStringLiteral("held"))) << events[0].toStdString();
    EXPECT_TRUE(events[1].startsWith(QStringLiteral("released"))) << events[1].toStdString();

    // A batch that has started is not held by a later failure; the next one is.
    filterCheck("0.330", "0.801", "1.503");
    EXPECT_EQ(session->attention().kind, Attention::Kind::None);
    ASSERT_TRUE(open(QStringLiteral("b2")));
    EXPECT_EQ(session->attention().kind, Attention::Kind::Held);
}

TEST_F(DailyCheckTest, WarnStartsTheBatchAndRecordsTheWarning)
{
    connect(DailyCheckMode::Warn);
    ASSERT_TRUE(open(QStringLiteral("b1")));
    EXPECT_EQ(session->attention().kind, Attention::Kind::None);
    filmRead(" 0.400");
    EXPECT_EQ(store.store.readings(session->batch().seq).size(), 1);
    const QStringList events = dailyCheckEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events[0].contains(QStringLiteral("has had no filter check since midnight"))) << events[0].toStdString();
}

TEST(DailyCheckSetting, TheUsersFileWinsOverTheSystemsAndAWrongValueFailsSafe)
{
    const test::TempSettings settings;
    EXPECT_EQ(dailyCheckSetting().mode, DailyCheckMode::Warn);
    {
        QSettings system(settings.systemDir() + QStringLiteral("/KALVOR/kalvor-batch.conf"), QSettings::IniFormat);
        system.setValue(QStringLiteral("QualityControl/DailyCheck"), QStringLiteral("require"));
    }
    EXPECT_EQ(dailyCheckSetting().mode, DailyCheckMode::Require);
    {
        QSettings user(BatchSettings::filePath(), QSettings::IniFormat);
        user.setValue(QStringLiteral("QualityControl/DailyCheck"), QStringLiteral("off"));
    }
    EXPECT_EQ(dailyCheckSetting().mode, DailyCheckMode::Off);
    {
        QSettings user(BatchSettings::filePath(), QSettings::IniFormat);
        user.setValue(QStringLiteral("QualityControl/DailyCheck"), QStringLiteral("requre"));
    }
    const DailyCheckSetting typo = dailyCheckSetting();
    EXPECT_EQ(typo.mode, DailyCheckMode::Require);
    EXPECT_TRUE(typo.problem.contains(QStringLiteral("requre"))) << typo.problem.toStdString();
}
