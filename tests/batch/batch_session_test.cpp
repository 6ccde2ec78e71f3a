// A batch read through the link, against a link server with the reader's
// topics that the test drives as KALVOR would: each record is committed
// before the LED and the beep confirm it, removal turns the LED off and moves
// on, and filter checks, a wavelength change and a lost link are recorded.
#include "batch/BatchTestSupport.h"

#include "batch/BatchSession.h"
#include "records/ChainVerifier.h"

#include <QSignalSpy>
#include <QTest>

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::records;
using namespace kalvor::batchtest;

namespace {

class BatchSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.open());
        kalvor.identity();
        kalvor.start();
        session = std::make_unique<BatchSession>(store.store, kalvor.socketPath);
        session->link().setRetryMs(50);
        BatchOptions o;
        o.name = QStringLiteral("cal");
        o.operatorName = QStringLiteral("ann");
        o.lot = QStringLiteral("L7");
        o.idPrefix = QStringLiteral("F-");
        QString why;
        ASSERT_TRUE(session->openBatch(o, &why)) << why.toStdString();
        session->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return session->link().state() == LinkSession::State::Connected; }, 3000));
        settle();
    }

    // Lets the link deliver what is under way.
    void settle() { QTest::qWait(60); }

    void readings(const QString& a, int n)
    {
        for (int i = 0; i < n; ++i) {
            kalvor.reading(a);
            settle();
        }
    }
    void film(bool in)
    {
        kalvor.reader.set(QStringLiteral("dosimeter"), in ? QStringLiteral("1") : QStringLiteral("0"));
        settle();
    }

    QStringList eventKinds()
    {
        QStringList kinds;
        for (const EventRecord& e : store.store.events())
            kinds << e.kind;
        return kinds;
    }

    TempStore store;
    FakeKalvor kalvor;
    std::unique_ptr<BatchSession> session;
};

} // namespace

TEST_F(BatchSessionTest, EachFilmIsCommittedBeforeTheHeadConfirmsIt)
{
    QList<int> storedWhenConfirmed;
    kalvor.reader.onPut = [&](const QString& item, const QString& value) {
        if (item == QLatin1String("led") && value == QLatin1String("1"))
            storedWhenConfirmed << int(store.store.readings(session->batch().seq).size());
    };
    for (int film = 1; film <= 2; ++film) {
        this->film(true);
        readings(QStringLiteral(" 0.%1").arg(100 * film + 2), 3);
        this->film(false);
    }
    const QList<ReadingRecord> rows = store.store.readings(session->batch().seq);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].dosimeterId, QStringLiteral("F-001"));
    EXPECT_EQ(rows[1].dosimeterId, QStringLiteral("F-002"));
    EXPECT_EQ(rows[1].shown, QStringLiteral(" 0.202"));
    EXPECT_EQ(rows[1].absorbance, 0.202);
    EXPECT_EQ(rows[1].count, 3);
    EXPECT_EQ(rows[1].wavelength, QStringLiteral("510 nm"));
    EXPECT_EQ(rows[1].zero, QStringLiteral("1.234"));
    EXPECT_EQ(rows[1].readerGain, QStringLiteral("1.9"));
    EXPECT_EQ(rows[1].operatorName, QStringLiteral("ann"));
    EXPECT_EQ(storedWhenConfirmed, (QList<int>{1, 2}));
    EXPECT_EQ(kalvor.reader.puts, (QStringList{QStringLiteral("led=1"), QStringLiteral("beep=100"), QStringLiteral("led=0"),
                                               QStringLiteral("led=1"), QStringLiteral("beep=100"), QStringLiteral("led=0")}));
    EXPECT_EQ(session->nextId(), QStringLiteral("F-003"));
    EXPECT_TRUE(verifyChain(store.store).ok());
}

TEST_F(BatchSessionTest, RefusalGivesTheLongBeepAndIsInTheAuditTrail)
{
    QSignalSpy refused(session.get(), &BatchSession::refused);
    film(true);
    kalvor.reading(QStringLiteral(">3.0"), QStringLiteral("over-range"));
    kalvor.reading(QStringLiteral(">3.0"), QStringLiteral("over-range"));
    kalvor.reading(QStringLiteral(">3.0"), QStringLiteral("over-range"));
    settle();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(kalvor.reader.puts, QStringList{QStringLiteral("beep=1000")});
    EXPECT_TRUE(store.store.readings(session->batch().seq).isEmpty());
    const QList<EventRecord> events = store.store.events(session->batch().seq);
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.last().kind, event::Refused);
    EXPECT_TRUE(events.last().detail.startsWith(QStringLiteral("F-001: "))) << events.last().detail.toStdString();
}

TEST_F(BatchSessionTest, RecordsFilterChecksWavelengthChangesAndTheLinkComingAndGoing)
{
    kalvor.data.set(QStringLiteral("na"), QStringLiteral("0.301"));
    kalvor.reader.set(QStringLiteral("wavelength"), QStringLiteral("600 nm"));
    settle();
    const QList<FilterCheckRecord> checks = store.store.filterChecks();
    ASSERT_EQ(checks.size(), 1);
    EXPECT_EQ(checks[0].filter, QStringLiteral("light"));
    EXPECT_EQ(checks[0].value, std::optional<double>(0.301));
    EXPECT_EQ(checks[0].readerSerial, QStringLiteral("1500"));
    EXPECT_EQ(session->wavelengthWarning(), QStringLiteral("510 nm -> 600 nm"));

    kalvor.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->link().state() != LinkSession::State::Connected; }, 3000));
    kalvor.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->link().state() == LinkSession::State::Connected; }, 3000));
    settle();
    EXPECT_EQ(store.store.filterChecks().size(), 1) << "the same result seen again after reconnecting is no new check";
    film(true);
    readings(QStringLiteral(" 0.500"), 3);
    EXPECT_EQ(store.store.readings(session->batch().seq).size(), 1) << "the batch goes on over the new link";
    session->stop();
    const QStringList kinds = eventKinds();
    EXPECT_EQ(kinds.filter(QRegularExpression(QStringLiteral("^(program|batch|wavelength|link)-"))),
              (QStringList{QStringLiteral("batch-opened"), QStringLiteral("program-start"), QStringLiteral("wavelength-change"),
                           QStringLiteral("link-lost"), QStringLiteral("link-back"), QStringLiteral("program-stop")}));
}

TEST_F(BatchSessionTest, ReopeningTheBatchGoesOnWithTheNextIdAndCorrectionsFreeTheirId)
{
    film(true);
    readings(QStringLiteral(" 0.100"), 3);
    film(false);
    session.reset();

    BatchSession again(store.store, kalvor.socketPath);
    BatchOptions o;
    o.name = QStringLiteral("cal");
    QString why;
    ASSERT_TRUE(again.openBatch(o, &why)) << why.toStdString();
    EXPECT_EQ(again.records().size(), 1);
    EXPECT_EQ(again.nextId(), QStringLiteral("F-002"));
    EXPECT_EQ(again.batch().lot, QStringLiteral("L7"));

    const std::optional<qint64> fixed = again.correctId(again.records().first().seq, QStringLiteral("F-009"), &why);
    ASSERT_TRUE(fixed) << why.toStdString();
    EXPECT_EQ(store.store.reading(*fixed)->corrects, std::optional<qint64>(again.records().first().seq));
    EXPECT_EQ(again.nextId(), QStringLiteral("F-010"));
    ASSERT_TRUE(again.closeBatch(&why));
    ASSERT_TRUE(again.openBatch(o, &why));
    EXPECT_EQ(store.store.events(again.batch().seq).last().kind, event::BatchReopened);
    EXPECT_TRUE(verifyChain(store.store).ok());
}
