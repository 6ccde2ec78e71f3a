// kalvor-batch and kalvor --simulate as a lab runs them, four times faster
// than life: 50 films of known absorbance from 0.05 to 2.5 slid in by hand
// (each comes into place within a quarter of a second) at any point of the
// reading cycle, and taken out again; every film is stored once with its ID and value, the head confirms each
// one once, the chain verifies, a hand edit is caught and named, and the
// export has a line per film.
#include "batch/BatchProcessSupport.h"

#include <cmath>
#include <random>

using namespace kalvor;
using namespace kalvor::batchtest;

namespace {

constexpr int kFilms = 50;

// 0.050 .. 2.500, the same in every run.
double known(int i)
{
    static const QList<double> films = [] {
        std::mt19937 random(50);
        std::uniform_int_distribution<int> thousandths(50, 2500);
        QList<double> out;
        for (int n = 0; n < kFilms; ++n)
            out << thousandths(random) / 1000.0;
        return out;
    }();
    return films[i];
}

int run(const Sandbox& box, const QStringList& args, QByteArray* err = nullptr)
{
    Child tool(box, "kalvor-batch", args, QStringLiteral("tool"));
    const std::optional<int> status = tool.waitExit(30000);
    if (err)
        *err = tool.standardError() + tool.standardOutput();
    return status.value_or(-1);
}

} // namespace

TEST(BatchEndToEnd, FiftyFilmsAreStoredConfirmedVerifiedAndExported)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch"))
        GTEST_SKIP() << "kalvor and kalvor-batch are not built in " KALVOR_BIN_DIR;
    Sandbox box;
    ASSERT_TRUE(box.isValid());
    const QString store = box.dir() + QStringLiteral("/records.sqlite");
    // Four times faster than life: a reading every 150 ms, a film in place within 0.25 s.
    Child kalvor(box, "kalvor", {"--simulate=seed=11,speed=4"}, QStringLiteral("kalvor"));
    ASSERT_TRUE(faulttest::waitServing(kalvor, box.socketPath())) << kalvor.standardError().toStdString();
    Hand hand;
    ASSERT_TRUE(hand.open(box.socketPath()));
    std::unique_ptr<Child> batch = startBatch(box, store, QStringLiteral("batch"));

    QElapsedTimer clock;
    clock.start();
    std::mt19937 pauses(7);
    std::uniform_int_distribution<int> pauseMs(0, 150);
    for (int i = 0; i < kFilms; ++i) {
        QThread::msleep(pauseMs(pauses));  // a hand is not in step with the reader
        ASSERT_TRUE(hand.put("film", QByteArray::number(known(i), 'f', 3)));
        ASSERT_TRUE(hand.waitLed(true, 10000)) << "film " << i + 1 << " was not confirmed\n"
                                               << batch->standardError().toStdString();
        ASSERT_TRUE(hand.put("dosimeter", "none"));
        ASSERT_TRUE(hand.waitLed(false, 5000)) << "film " << i + 1;
    }
    const qint64 perFilmMs = clock.elapsed() / kFilms;
    hand.drain();
    EXPECT_EQ(batch->terminate(), std::optional<int>(0)) << batch->standardError().toStdString();
    EXPECT_EQ(hand.ledOns, kFilms);
    EXPECT_EQ(hand.buzzerOns, kFilms);

    const QList<QVariantList> rows =
        query(store, {QStringLiteral("SELECT dosimeter_id, absorbance, absorbance_shown, status, readings FROM readings ORDER BY seq")});
    ASSERT_EQ(rows.size(), kFilms);
    double worst = 0;
    for (int i = 0; i < kFilms; ++i) {
        EXPECT_EQ(rows[i][0].toString(), QStringLiteral("E-%1").arg(i + 1, 3, 10, QLatin1Char('0')));
        worst = std::max(worst, std::abs(rows[i][1].toDouble() - known(i)));
        // The settled reading lies within half a thousandth of the film's
        // absorbance here; what is stored within a thousandth of that.
        EXPECT_NEAR(rows[i][1].toDouble(), known(i), 0.0015) << "film " << i + 1 << " shown as " << rows[i][2].toString().toStdString();
        EXPECT_EQ(rows[i][3].toString(), QStringLiteral("ok"));
        EXPECT_EQ(rows[i][4].toInt(), 3);
    }
    std::printf("[ films    ] %d films, %lld ms per film from insertion to removal, largest deviation %.4f\n",
                kFilms, perFilmMs, worst);

    QByteArray said;
    EXPECT_EQ(run(box, {"verify", "--store", store}, &said), 0) << said.toStdString();
    const QString csv = box.dir() + QStringLiteral("/e2e.csv");
    EXPECT_EQ(run(box, {"export", "--batch", "e2e", "--csv", csv, "--store", store}, &said), 0) << said.toStdString();
    EXPECT_EQ(Sandbox::readAll(csv).count("\r\n"), kFilms + 1);

    // Someone changes the 17th film's value in the file.
    const QList<QVariantList> target = query(store, {QStringLiteral("SELECT seq FROM readings WHERE dosimeter_id = 'E-017'")});
    ASSERT_EQ(target.size(), 1);
    const qint64 seq = target[0][0].toLongLong();
    query(store, {QStringLiteral("DROP TRIGGER readings_no_update"),
                  QStringLiteral("UPDATE readings SET absorbance = absorbance + 0.01 WHERE seq = %1").arg(seq)});
    EXPECT_EQ(run(box, {"verify", "--store", store}, &said), 1);
    EXPECT_TRUE(said.contains(QStringLiteral("row %1 of readings (dosimeter E-017)").arg(seq).toUtf8())) << said.toStdString();
}
