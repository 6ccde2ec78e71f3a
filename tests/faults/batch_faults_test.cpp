// kalvor-batch killed with SIGKILL in the middle of a batch: every film that
// the head confirmed is in the store, the file is sound and its chain holds,
// and the batch goes on where it stopped once kalvor-batch is started again.
#include "batch/BatchProcessSupport.h"

#include <QDir>
#include <unistd.h>

using namespace kalvor;
using namespace kalvor::batchtest;

TEST(BatchFaults, KilledMidBatchKeepsEveryConfirmedFilmAndGoesOn)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    const QString store = box.dir() + QStringLiteral("/records.sqlite");
    Child kalvor(box, "kalvor", {"--simulate=seed=3"}, QStringLiteral("kalvor"));
    ASSERT_TRUE(faulttest::waitServing(kalvor, box.socketPath())) << kalvor.standardError().toStdString();
    Hand hand;
    ASSERT_TRUE(hand.open(box.socketPath()));

    std::unique_ptr<Child> batch = startBatch(box, store, QStringLiteral("first"));
    {
        Child second(box, "kalvor-batch", {"--batch", "other", "--store", store}, QStringLiteral("second-copy"));
        EXPECT_EQ(second.waitExit(10000), std::optional<int>(3)) << "one batch window per reader";
    }
    {
        // The same socket under another name in another folder is still the same reader.
        const QString other = box.dir() + QStringLiteral("/elsewhere");
        ASSERT_TRUE(QDir().mkpath(other));
        ASSERT_TRUE(QFile::setPermissions(other, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ASSERT_EQ(::link(QFile::encodeName(box.socketPath()).constData(), QFile::encodeName(other + QStringLiteral("/link.sock")).constData()), 0);
        Child third(box, "kalvor-batch", {"--batch", "third", "--store", store, "--socket", other + QStringLiteral("/link.sock")},
                    QStringLiteral("hard-link"));
        EXPECT_EQ(third.waitExit(10000), std::optional<int>(3)) << third.standardError().toStdString();
        EXPECT_TRUE(third.standardError().contains("already running for reader")) << third.standardError().toStdString();
    }
    for (int film = 1; film <= 3; ++film) {
        ASSERT_TRUE(hand.put("dosimeter", QByteArray::number(0.3 * film, 'f', 2)));
        ASSERT_TRUE(hand.waitLed(true, 10000)) << batch->standardError().toStdString();
        ASSERT_TRUE(hand.put("dosimeter", "none"));
        ASSERT_TRUE(hand.waitLed(false, 5000));
    }
    ASSERT_TRUE(hand.put("dosimeter", "1.25"));  // the fourth film, still settling
    QThread::msleep(700);
    batch->killNow();
    ASSERT_TRUE(batch->diedFromSignal());
    hand.drain();
    EXPECT_EQ(hand.ledOns, 3) << "the fourth film was not confirmed";

    EXPECT_EQ(query(store, {QStringLiteral("PRAGMA integrity_check")}), (QList<QVariantList>{{QStringLiteral("ok")}}));
    EXPECT_EQ(query(store, {QStringLiteral("SELECT dosimeter_id FROM readings ORDER BY seq")}),
              (QList<QVariantList>{{QStringLiteral("E-001")}, {QStringLiteral("E-002")}, {QStringLiteral("E-003")}}));

    // Started again: the film left in is not taken for a new one by itself;
    // slid in again it is E-004, and the next one E-005.
    batch = startBatch(box, store, QStringLiteral("second"));
    ASSERT_TRUE(hand.put("dosimeter", "none"));
    QThread::msleep(1500);
    for (const QByteArray a : {"1.25", "0.75"}) {
        ASSERT_TRUE(hand.put("dosimeter", a));
        ASSERT_TRUE(hand.waitLed(true, 10000)) << batch->standardError().toStdString();
        ASSERT_TRUE(hand.put("dosimeter", "none"));
        ASSERT_TRUE(hand.waitLed(false, 5000));
    }
    EXPECT_EQ(batch->terminate(), std::optional<int>(0)) << batch->standardError().toStdString();
    EXPECT_EQ(query(store, {QStringLiteral("SELECT dosimeter_id, absorbance_shown FROM readings ORDER BY seq")}).size(), 5);
    EXPECT_EQ(query(store, {QStringLiteral("SELECT dosimeter_id FROM readings ORDER BY seq DESC LIMIT 1")}),
              (QList<QVariantList>{{QStringLiteral("E-005")}}));
    EXPECT_EQ(query(store, {QStringLiteral("SELECT e.kind FROM events e JOIN batches b ON e.batch = b.seq "
                                           "WHERE e.kind LIKE 'batch-%' AND b.name = 'e2e' ORDER BY e.seq")}),
              (QList<QVariantList>{{QStringLiteral("batch-opened")}, {QStringLiteral("batch-resumed")}}))
        << "the second start went on with the open batch";

    Child verify(box, "kalvor-batch", {"verify", "--store", store}, QStringLiteral("verify"));
    EXPECT_EQ(verify.waitExit(30000), std::optional<int>(0)) << verify.standardError().toStdString();
    EXPECT_TRUE(verify.standardOutput().contains("chain intact")) << verify.standardOutput().toStdString();
}
