// One film from insertion to a stored record: the stability rule, refusals,
// removal, re-reads with the head's button, the Capture key without a sensor,
// and a film that was already in when the link came up.
#include "batch/CaptureMachine.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace kalvor::batch;

namespace {

const QDateTime kT0 = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);

struct Harness {
    QStringList ids{QStringLiteral("F-001"), QStringLiteral("F-002"), QStringLiteral("F-003")};
    int nextIndex = 0;
    QList<Capture> stored;
    QString storeFailure;
    CaptureMachine machine{CaptureMachine::Hooks{
        [this](QString* why) -> std::optional<QString> {
            if (nextIndex < ids.size())
                return ids[nextIndex];
            *why = QStringLiteral("list used up");
            return std::nullopt;
        },
        [this](const Capture& c, QString* why) -> std::optional<qint64> {
            if (!storeFailure.isEmpty()) {
                *why = storeFailure;
                return std::nullopt;
            }
            stored.append(c);
            if (!c.repeats)
                ++nextIndex;
            return 100 + stored.size();
        }}};
    QSignalSpy confirmed{&machine, &CaptureMachine::confirmed};
    QSignalSpy refused{&machine, &CaptureMachine::refused};
    QSignalSpy released{&machine, &CaptureMachine::released};
    int clock = 0;

    Harness() { machine.setRule(StabilityRule{3, 0.002, 200}); }

    void read(const char* text, const char* status = "ok")
    {
        clock += 600;
        machine.addReading(makeReading(QLatin1String(text), QLatin1String(status), kT0.addMSecs(clock)));
    }
    void insert() { machine.setDosimeter(true, false, kT0.addMSecs(clock + 300)); }
    void remove() { machine.setDosimeter(false, false); }
    QString lastRefusal() const { return refused.isEmpty() ? QString() : refused.last().at(1).toString(); }
};

} // namespace

TEST(CaptureMachine, StoresTheMedianOnceThreeReadingsAgreeThenWaitsForRemoval)
{
    Harness h;
    h.insert();
    EXPECT_EQ(h.machine.state(), CaptureState::Settling);
    EXPECT_EQ(h.machine.currentId(), QStringLiteral("F-001"));
    h.read(" 0.700");  // still moving into place
    h.read(" 0.811");
    h.read(" 0.813");
    EXPECT_TRUE(h.stored.isEmpty()) << "0.700 is outside the band of the other two";
    h.read(" 0.809");
    ASSERT_EQ(h.stored.size(), 1);
    EXPECT_EQ(h.stored[0].dosimeterId, QStringLiteral("F-001"));
    EXPECT_DOUBLE_EQ(h.stored[0].median, 0.811);
    EXPECT_EQ(h.stored[0].shown, QStringLiteral(" 0.811"));
    EXPECT_EQ(h.stored[0].spread, 0.004) << "the spread is 0.813 - 0.809 without binary noise";
    EXPECT_EQ(h.stored[0].readings.size(), 3);
    EXPECT_EQ(h.confirmed.size(), 1);
    EXPECT_EQ(h.machine.state(), CaptureState::Held);

    h.read(" 0.812");  // further readings of a held film store nothing
    EXPECT_EQ(h.stored.size(), 1);
    h.remove();
    EXPECT_EQ(h.released.size(), 1);
    EXPECT_EQ(h.machine.state(), CaptureState::Empty);
    h.insert();
    EXPECT_EQ(h.machine.currentId(), QStringLiteral("F-002"));
}

TEST(CaptureMachine, ReadingOfTheSameCycleAsTheSensorCounts)
{
    Harness h;
    h.read(" 0.500");
    h.machine.setDosimeter(true, false, kT0.addMSecs(h.clock + 5));
    h.read(" 0.501");
    h.read(" 0.500");
    EXPECT_EQ(h.stored.size(), 1) << "the reading taken just before the sensor saw the film is the first of three";

    Harness late;
    late.read(" 0.500");
    late.machine.setDosimeter(true, false, kT0.addMSecs(late.clock + 450));
    late.read(" 0.501");
    late.read(" 0.500");
    EXPECT_TRUE(late.stored.isEmpty()) << "a reading from a cycle before the film does not count";
}

TEST(CaptureMachine, RefusesWhatNeverSettlesOrIsNotOkAndStoresNothing)
{
    Harness h;
    h.insert();
    h.read(" 0.500");
    h.read(" 0.510");
    h.read(" 0.520");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.refused.isEmpty(); }, 2000));
    EXPECT_TRUE(h.lastRefusal().contains(QStringLiteral("not stable"))) << h.lastRefusal().toStdString();
    EXPECT_TRUE(h.stored.isEmpty());
    EXPECT_EQ(h.machine.state(), CaptureState::Refused);
    h.remove();
    h.insert();
    EXPECT_EQ(h.machine.currentId(), QStringLiteral("F-001")) << "a refused film keeps its ID";

    // One reading that is not ok starts the count again; three in a row are a fault.
    h.read(" 0.500");
    h.read(" 0.500", "spread");
    h.read(" 0.500");
    h.read(" 0.500");
    EXPECT_TRUE(h.stored.isEmpty());
    EXPECT_EQ(h.refused.size(), 1);
    h.read(">3.0", "over-range");
    h.read(">3.0", "over-range");
    h.read(">3.0", "over-range");
    EXPECT_EQ(h.refused.size(), 2);
    EXPECT_TRUE(h.lastRefusal().contains(QStringLiteral("over-range"))) << h.lastRefusal().toStdString();

    // Pulled out early; and a store that fails is a refusal too.
    Harness e;
    e.insert();
    e.read(" 0.300");
    e.remove();
    EXPECT_TRUE(e.lastRefusal().contains(QStringLiteral("removed"))) << e.lastRefusal().toStdString();
    e.storeFailure = QStringLiteral("disk full");
    e.insert();
    e.read(" 0.300");
    e.read(" 0.300");
    e.read(" 0.300");
    EXPECT_TRUE(e.lastRefusal().contains(QStringLiteral("disk full")));
    EXPECT_TRUE(e.confirmed.isEmpty());
}

TEST(CaptureMachine, ButtonReReadsTheHeldFilmAsANewRecordNamingTheFirst)
{
    Harness h;
    h.insert();
    for (int i = 0; i < 3; ++i)
        h.read(" 0.400");
    ASSERT_EQ(h.stored.size(), 1);
    h.machine.setButton(true);
    h.machine.setButton(false);
    EXPECT_EQ(h.machine.state(), CaptureState::Settling);
    for (int i = 0; i < 3; ++i)
        h.read(" 0.401");
    ASSERT_EQ(h.stored.size(), 2);
    EXPECT_EQ(h.stored[1].dosimeterId, QStringLiteral("F-001"));
    EXPECT_EQ(h.stored[1].repeats, std::optional<qint64>(101));
    EXPECT_EQ(h.stored[1].trigger, Trigger::Button);
    EXPECT_TRUE(h.released.isEmpty()) << "the LED stays on for the same film";
}

TEST(CaptureMachine, CaptureKeyReadsFilmAfterFilmWithoutASensor)
{
    Harness h;
    h.machine.requestCapture();
    for (int i = 0; i < 3; ++i)
        h.read(" 0.200");
    ASSERT_EQ(h.stored.size(), 1);
    EXPECT_EQ(h.stored[0].trigger, Trigger::Key);
    h.machine.requestCapture();  // the next film
    EXPECT_EQ(h.released.size(), 1);
    EXPECT_EQ(h.machine.currentId(), QStringLiteral("F-002"));
    for (int i = 0; i < 3; ++i)
        h.read(" 0.300");
    ASSERT_EQ(h.stored.size(), 2);
    EXPECT_FALSE(h.stored[1].repeats);
}

TEST(CaptureMachine, FilmAlreadyInWhenTheLinkComesUpIsNotReadByItself)
{
    Harness h;
    h.machine.setDosimeter(true, true, kT0);
    EXPECT_EQ(h.machine.state(), CaptureState::Unknown);
    for (int i = 0; i < 4; ++i)
        h.read(" 0.600");
    EXPECT_TRUE(h.stored.isEmpty());
    h.remove();
    EXPECT_EQ(h.machine.state(), CaptureState::Empty);

    h.machine.setDosimeter(true, true, kT0);
    h.machine.requestCapture();  // read it on purpose
    for (int i = 0; i < 3; ++i)
        h.read(" 0.600");
    EXPECT_EQ(h.stored.size(), 1);

    Harness used;
    used.ids.clear();
    used.insert();
    EXPECT_EQ(used.machine.state(), CaptureState::Refused);
    EXPECT_EQ(used.lastRefusal(), QStringLiteral("list used up"));
}
