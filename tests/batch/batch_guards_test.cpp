// What once gave a green light on a wrong record, on the simulated reader
// with kalvor-batch as a lab runs them: a zero taken on a film stores nothing
// until the reader is zeroed on the empty head, and a refused film's ID is
// not handed to the next film.
#include "batch/BatchProcessSupport.h"

using namespace kalvor;
using namespace kalvor::batchtest;

namespace {

QStringList column(const QString& store, const QString& sql)
{
    QStringList out;
    for (const QVariantList& row : query(store, {sql}))
        out << row.value(0).toString();
    return out;
}

} // namespace

TEST(BatchGuards, AZeroOnAFilmAndARefusedFilmStoreNothingUntilDealtWith)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    const QString store = box.dir() + QStringLiteral("/records.sqlite");
    // Started with a film in the head: the zero is taken on it.
    Child kalvor(box, "kalvor", {"--simulate=seed=5,speed=4,dosimeter=0.5"}, QStringLiteral("kalvor"));
    ASSERT_TRUE(faulttest::waitServing(kalvor, box.socketPath())) << kalvor.standardError().toStdString();
    Hand hand;
    ASSERT_TRUE(hand.open(box.socketPath()));
    std::unique_ptr<Child> batch = startBatch(box, store, QStringLiteral("batch"));

    // The film comes out, a film of 1.0 goes in: it reads 0.500 and is not stored.
    ASSERT_TRUE(hand.put("dosimeter", "none"));
    QThread::msleep(400);
    ASSERT_TRUE(hand.put("film", "1.0"));
    EXPECT_FALSE(hand.waitLed(true, 2500));
    EXPECT_TRUE(column(store, QStringLiteral("SELECT seq FROM readings")).isEmpty());
    EXPECT_TRUE(column(store, QStringLiteral("SELECT detail FROM events WHERE kind = 'capture-stopped'"))
                    .join(QLatin1Char('|'))
                    .contains(QStringLiteral("zeroed with a film")));

    // Taken out, the reader zeroed on the empty head from the link, in again: stored right.
    ASSERT_TRUE(hand.put("dosimeter", "none"));
    QThread::msleep(400);
    ASSERT_TRUE(hand.putItem("reader", "zero", "1"));
    QThread::msleep(800);
    ASSERT_TRUE(hand.put("film", "1.0"));
    ASSERT_TRUE(hand.waitLed(true, 5000)) << batch->standardError().toStdString();
    const QStringList values = column(store, QStringLiteral("SELECT absorbance FROM readings"));
    ASSERT_EQ(values.size(), 1);
    EXPECT_NEAR(values[0].toDouble(), 1.0, 0.002);
    ASSERT_TRUE(hand.put("dosimeter", "none"));
    ASSERT_TRUE(hand.waitLed(false, 3000));

    // A film darker than the reader measures is refused; the next film waits
    // for a decision instead of being filed under the refused film's ID.
    ASSERT_TRUE(hand.put("film", "3.5"));
    QThread::msleep(1500);
    ASSERT_TRUE(hand.put("dosimeter", "none"));
    QThread::msleep(300);
    ASSERT_TRUE(hand.put("film", "0.6"));
    EXPECT_FALSE(hand.waitLed(true, 2000));
    EXPECT_EQ(column(store, QStringLiteral("SELECT dosimeter_id FROM readings")), QStringList{QStringLiteral("E-001")});
    const QString stops = column(store, QStringLiteral("SELECT detail FROM events WHERE kind IN ('refused', 'capture-stopped') "
                                                       "ORDER BY seq"))
                              .join(QLatin1Char('|'));
    EXPECT_TRUE(stops.contains(QStringLiteral("E-002: the reader reports over-range"))) << stops.toStdString();
    EXPECT_TRUE(stops.contains(QStringLiteral("film E-002 was not stored"))) << stops.toStdString();
    EXPECT_EQ(batch->terminate(), std::optional<int>(0)) << batch->standardError().toStdString();
}
