// Hands-free batch reading as a lab runs it: kalvor --simulate and
// kalvor-batch as processes, and a hand that slides 50 films into the
// simulated head (a film settles into place within about a second), waits
// for the LED that confirms the stored record, and takes the film out again.
// A hand is not in step with the reader: each film goes in after a pause of
// 0 to 600 ms (seeded, the same in every run) after the last one came out,
// at any point of the reading cycle.
// The figure is the time from insertion to the confirmation, set against the
// floor of the stability rule, three readings, with the reading period
// measured in the same run. The limit is that floor and two readings: one for
// a film that comes into place while a reading is under way, one for the
// rule's wait until a film has stopped creeping up (on average a third of a
// reading; see settle_bench.cpp).
#include "faults/FaultSupport.h"

#include <QLoggingCategory>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace kalvor::bench {
namespace {

using faulttest::Child;
using faulttest::ItemLine;
using faulttest::LineClient;
using faulttest::Sandbox;

constexpr int kFilms = 50;
constexpr int kStableReadings = 3;

double nowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The hand at the head: it also keeps the server times of every reading.
class Hand {
public:
    explicit Hand(LineClient& link) : link_(link) {}

    bool put(const QByteArray& item, const QByteArray& value)
    {
        if (!link_.sendLine("PUT simulator " + item + " \"" + value + "\""))
            return false;
        while (const std::optional<QByteArray> line = link_.readLine(3000)) {
            if (line->startsWith("OK PUT"))
                return true;
            if (line->startsWith("ERR"))
                return false;
            take(*line);
        }
        return false;
    }
    bool waitLed(const QByteArray& want, int ms)
    {
        const double end = nowMs() + ms;
        while (led != want) {
            const double left = end - nowMs();
            if (left <= 0)
                return false;
            const std::optional<QByteArray> line = link_.readLine(int(left));
            if (!line)
                return false;
            take(*line);
        }
        return true;
    }
    // The median time between two readings.
    double readingPeriodMs() const
    {
        std::vector<double> gaps;
        for (size_t i = 1; i < readingTimes.size(); ++i)
            gaps.push_back(double(readingTimes[i - 1].msecsTo(readingTimes[i])));
        if (gaps.empty())
            return 0;
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        return gaps[gaps.size() / 2];
    }

    QByteArray led;
    std::vector<QDateTime> readingTimes;
    std::vector<double> confirmMs;

private:
    void take(const QByteArray& line)
    {
        const std::optional<ItemLine> u = ItemLine::parse(line);
        if (!u || u->kind != "UPDATE")
            return;
        if (u->item == "led") {
            led = u->text();
            // kalvor-batch's own share: from the reading that made the film
            // stable to the LED it switched on (both times as the reader set them).
            if (led == "1" && !readingTimes.empty())
                confirmMs.push_back(double(readingTimes.back().msecsTo(
                    QDateTime::fromString(QString::fromLatin1(u->time), Qt::ISODateWithMs))));
        }
        else if (u->item == "A" && u->text() != "Zeroing")
            readingTimes.push_back(QDateTime::fromString(QString::fromLatin1(u->time), Qt::ISODateWithMs));
    }

    LineClient& link_;
};

void BM_BatchFilm(benchmark::State& state)
{
    if (!faulttest::isBuilt("kalvor") || !faulttest::isBuilt("kalvor-batch")) {
        state.SkipWithError("kalvor and kalvor-batch must be built beside the benchmarks");
        return;
    }
    std::vector<double> perFilm;
    std::vector<double> own;
    double period = 0;
    for (auto _ : state) {
        Sandbox box;
        Child kalvor(box, "kalvor", {"--simulate=seed=5"}, QStringLiteral("kalvor"));
        LineClient link;
        if (!faulttest::waitServing(kalvor, box.socketPath()) || !link.open(box.socketPath())
            || !faulttest::subscribeAndWaitReading(link)) {
            state.SkipWithError("the simulated reader did not start");
            return;
        }
        const std::optional<QByteArray> items = link.ask("ITEMS simulator", "ITEMS");
        if (!items || !items->split(' ').contains("film")) {
            state.SkipWithError("this KALVOR has no simulator!film to slide a film in with");
            return;
        }
        Child batch(box, "kalvor-batch",
                    {"--batch", "bench", "--store", box.dir() + QStringLiteral("/records.sqlite")}, QStringLiteral("batch"));
        for (int waited = 0; !batch.standardError().contains("connected to KALVOR"); waited += 50) {
            if (waited > 10000 || !batch.running()) {
                state.SkipWithError("kalvor-batch did not link to the reader");
                return;
            }
            QThread::msleep(50);
        }
        Hand hand(link);
        if (link.ask("SUB simulator led HOT", "OK SUB") != QByteArray("OK SUB simulator led HOT")) {
            state.SkipWithError("cannot link simulator!led");
            return;
        }
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pause(0, 600);
        for (int i = 0; i < kFilms; ++i) {
            QThread::msleep(pause(rng));
            const double t0 = nowMs();
            if (!hand.put("film", QByteArray::number(0.2 + 0.04 * i, 'f', 2)) || !hand.waitLed("1", 15000)) {
                state.SkipWithError("a film was not confirmed within 15 s");
                return;
            }
            perFilm.push_back(nowMs() - t0);
            if (!hand.put("film", "none") || !hand.waitLed("0", 5000)) {
                state.SkipWithError("the LED stayed on after a film was taken out");
                return;
            }
        }
        period = hand.readingPeriodMs();
        own = hand.confirmMs;
        state.SetIterationTime(std::accumulate(perFilm.begin(), perFilm.end(), 0.0) / 1000.0);
        batch.terminate();
    }
    std::vector<double> sorted = perFilm;
    std::sort(sorted.begin(), sorted.end());
    const double mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / double(sorted.size());
    const double floor = kStableReadings * period;
    state.counters["films"] = double(sorted.size());
    state.counters["per_film_ms"] = mean;
    state.counters["p50_ms"] = sorted[sorted.size() / 2];
    state.counters["p90_ms"] = sorted[sorted.size() * 9 / 10];
    state.counters["max_ms"] = sorted.back();
    state.counters["period_ms"] = period;
    if (!own.empty()) {
        std::sort(own.begin(), own.end());
        state.counters["own_p50_ms"] = own[own.size() / 2];
        state.counters["own_max_ms"] = own.back();
    }
    state.counters["floor_ms"] = floor;
    state.counters["limit_ms"] = floor + 2 * period;
    state.counters["pass"] = mean <= floor + 2 * period ? 1 : 0;
}

BENCHMARK(BM_BatchFilm)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kalvor::bench
