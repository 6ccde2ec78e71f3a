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

TEST_F(BatchSessionTest, ARefusedFilmsIdIsNeverHandedToTheNextFilmWithoutADecision)
{
    auto stored = [&] {
        QStringList ids;
        for (const ReadingRecord& r : store.store.readings(session->batch().seq))
            ids << r.dosimeterId + QLatin1Char('=') + (r.isVoid() ? QStringLiteral("void") : r.shown.trimmed());
        return ids;
    };
    film(true);
    for (int i = 0; i < 3; ++i)
        kalvor.reading(QStringLiteral(">3.0"), QStringLiteral("over-range"));
    settle();
    // Still in the head, the refused film is read again with the head's button.
    kalvor.reader.set(QStringLiteral("button"), QStringLiteral("1"));
    settle();
    kalvor.reader.set(QStringLiteral("button"), QStringLiteral("0"));
    EXPECT_EQ(session->machine().state(), CaptureState::Settling);
    EXPECT_EQ(session->machine().currentId(), QStringLiteral("F-001"));
    for (int i = 0; i < 3; ++i)
        kalvor.reading(QStringLiteral(">3.0"), QStringLiteral("over-range"));
    settle();
    film(false);
    ASSERT_EQ(session->attention().kind, Attention::Kind::Refused);
    EXPECT_EQ(session->attention().refusedId, QStringLiteral("F-001"));
    EXPECT_TRUE(session->attention().text.contains(QStringLiteral("over-range"))) << "the reason stays after removal";

    // The next film waits, whatever it reads, until someone decides.
    film(true);
    readings(QStringLiteral(" 0.500"), 4);
    EXPECT_EQ(session->machine().state(), CaptureState::Blocked);
    EXPECT_TRUE(stored().isEmpty());
    // A scanned ID always wins; the question stays for the film after it.
    QString why;
    ASSERT_TRUE(session->setScannedId(QStringLiteral("X-9"), QString(), &why)) << why.toStdString();
    readings(QStringLiteral(" 0.500"), 3);
    film(false);
    EXPECT_EQ(stored(), QStringList{QStringLiteral("X-9=0.500")});
    EXPECT_EQ(session->attention().refusedId, QStringLiteral("F-001"));

    // Voided with a reason: the next film is F-002.
    EXPECT_FALSE(session->voidId(QStringLiteral("F-001"), QString(), &why));
    ASSERT_TRUE(session->voidId(QStringLiteral("F-001"), QStringLiteral("film cracked"), &why)) << why.toStdString();
    EXPECT_EQ(session->attention().kind, Attention::Kind::None);
    EXPECT_EQ(session->nextId(), QStringLiteral("F-002"));
    film(true);
    for (int i = 0; i < 3; ++i)
        kalvor.reading(QStringLiteral(" 0.700"), QStringLiteral("flat"));
    settle();
    film(false);
    // ... or read again: the film put back in is F-002, as decided.
    film(true);
    EXPECT_EQ(session->machine().state(), CaptureState::Blocked);
    session->readRefusedAgain();
    readings(QStringLiteral(" 0.701"), 3);
    EXPECT_EQ(stored(), (QStringList{QStringLiteral("X-9=0.500"), QStringLiteral("F-001=void"), QStringLiteral("F-002=0.701")}));
    EXPECT_EQ(store.store.readings(session->batch().seq)[1].reason, QStringLiteral("film cracked"));
    EXPECT_TRUE(verifyChain(store.store).ok());
}

TEST_F(BatchSessionTest, NoFilmIsReadOnABadZeroOrWhileTheEmptyHeadDoesNotReadZero)
{
    kalvor.zero(QStringLiteral("film"), QStringLiteral("0.7000"));
    settle();
    EXPECT_EQ(session->attention().kind, Attention::Kind::Blocked);
    EXPECT_TRUE(session->attention().text.contains(QStringLiteral("zeroed with a film"))) << session->attention().text.toStdString();
    film(true);
    readings(QStringLiteral(" 0.500"), 4);
    EXPECT_TRUE(store.store.readings(session->batch().seq).isEmpty());
    session->zeroReader();
    settle();
    EXPECT_EQ(kalvor.reader.puts.filter(QStringLiteral("zero=")), QStringList{QStringLiteral("zero=1")});
    kalvor.zero(QStringLiteral("ok"));  // the film taken out and the reader zeroed; back in, it is read
    readings(QStringLiteral(" 1.000"), 3);
    film(false);
    ASSERT_EQ(store.store.readings(session->batch().seq).size(), 1);

    // An empty head that reads 0.020 twice in a row stops capture until a good zero.
    readings(QStringLiteral(" 0.004"), 2);
    EXPECT_EQ(session->attention().kind, Attention::Kind::None) << "within the tolerance";
    readings(QStringLiteral(" 0.020"), 3);
    EXPECT_EQ(session->attention().kind, Attention::Kind::Blocked);
    film(true);
    readings(QStringLiteral(" 0.800"), 3);
    EXPECT_EQ(store.store.readings(session->batch().seq).size(), 1);
    kalvor.zero(QStringLiteral("ok"));
    readings(QStringLiteral(" 0.780"), 3);
    EXPECT_EQ(store.store.readings(session->batch().seq).size(), 2);
    QStringList kinds;
    for (const EventRecord& e : store.store.events(session->batch().seq))
        kinds << e.kind;
    EXPECT_EQ(kinds.count(event::Zero) >= 2, true) << "zero changes during the batch are recorded";
    EXPECT_TRUE(kinds.contains(event::Blocked));
}

TEST_F(BatchSessionTest, EveryDosimeterHasOneCurrentRecordAndEachReplacementSaysWhy)
{
    for (const char* a : {" 0.300", " 0.400"}) {
        film(true);
        readings(QLatin1String(a), 3);
        film(false);
    }
    QList<ReadingRecord> rows = session->records();
    ASSERT_EQ(rows.size(), 2);
    QString why;
    // F-002's reading was really F-001's: F-001's first record is superseded, F-002 is open again.
    ASSERT_TRUE(session->correctId(rows[1].seq, QStringLiteral("F-001"), QStringLiteral("films swapped"), &why)) << why.toStdString();
    EXPECT_EQ(session->currentRecord(QStringLiteral("F-001"))->shown, QStringLiteral(" 0.400"));
    EXPECT_FALSE(session->currentRecord(QStringLiteral("F-002")));
    EXPECT_EQ(session->nextId(), QStringLiteral("F-002"));
    EXPECT_FALSE(session->correctId(rows[0].seq, QStringLiteral("F-003"), QStringLiteral("x"), &why)) << "no longer current";

    // The head's button reads the held film again: the new record supersedes it.
    film(true);
    readings(QStringLiteral(" 0.500"), 3);
    kalvor.reader.set(QStringLiteral("button"), QStringLiteral("1"));
    settle();
    kalvor.reader.set(QStringLiteral("button"), QStringLiteral("0"));
    readings(QStringLiteral(" 0.502"), 3);
    rows = session->records();
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[4].repeats, std::optional<qint64>(rows[3].seq));
    EXPECT_EQ(rows[4].supersedes, std::optional<qint64>(rows[3].seq));
    EXPECT_FALSE(rows[4].reason.isEmpty());
    int current = 0;
    for (const ReadingRecord& r : rows)
        current += session->isCurrent(r.seq) && r.dosimeterId == QLatin1String("F-002") ? 1 : 0;
    EXPECT_EQ(current, 1);
}

TEST_F(BatchSessionTest, AStoredFilmStillInTheHeadAfterARestartIsNotReadAgain)
{
    film(true);
    readings(QStringLiteral(" 0.500"), 3);
    session.reset();  // kalvor-batch ends with the film in the head

    BatchSession again(store.store, kalvor.socketPath);
    again.link().setRetryMs(50);
    BatchOptions o;
    o.name = QStringLiteral("cal");
    QString why;
    ASSERT_TRUE(again.openBatch(o, &why));
    again.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.link().state() == LinkSession::State::Connected; }, 3000));
    readings(QStringLiteral(" 0.500"), 4);
    EXPECT_EQ(again.machine().state(), CaptureState::Held);
    EXPECT_EQ(again.machine().currentId(), QStringLiteral("F-001"));
    EXPECT_EQ(store.store.readings(again.batch().seq).size(), 1);
    film(false);
    EXPECT_EQ(again.nextId(), QStringLiteral("F-002"));
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

    EXPECT_FALSE(again.correctId(again.records().first().seq, QStringLiteral("F-009"), QString(), &why))
        << "a correction needs a reason";
    const std::optional<qint64> fixed =
        again.correctId(again.records().first().seq, QStringLiteral("F-009"), QStringLiteral("label misread"), &why);
    ASSERT_TRUE(fixed) << why.toStdString();
    EXPECT_EQ(store.store.reading(*fixed)->corrects, std::optional<qint64>(again.records().first().seq));
    EXPECT_EQ(again.nextId(), QStringLiteral("F-010"));
    ASSERT_TRUE(again.closeBatch(&why));
    ASSERT_TRUE(again.openBatch(o, &why));
    EXPECT_EQ(store.store.events(again.batch().seq).last().kind, event::BatchReopened);
    EXPECT_TRUE(verifyChain(store.store).ok());
}
