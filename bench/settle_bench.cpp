// The stability rule on the simulated reader with a virtual clock: 500 films
// from 0.05 to 2.5 slid in at any point of the reading cycle, read by the
// rule as it stands (the last readings agree and no longer move) and by the
// rule without the trend check, each set against the film's settled value
// (the mean of 20 readings once it has settled). Figures: the largest and
// the mean deviation of what was stored, and readings and seconds per film.
#include "batch/FilmSettling.h"

#include <benchmark/benchmark.h>
#include <random>

namespace kalvor::bench {
namespace {

constexpr int kFilms = 500;

struct Figures {
    double worst = 0;
    double bias = 0;
    double readings = 0;
    double seconds = 0;
};

Figures run(bool noTrend)
{
    std::mt19937 random(1207);
    std::uniform_real_distribution<double> film(0.05, 2.5);
    std::uniform_real_distribution<double> phase(0.0, test::VirtualReader::kPeriod);
    test::VirtualReader reader(11);
    batch::StabilityRule rule;
    rule.noTrend = noTrend;
    Figures f;
    for (int i = 0; i < kFilms; ++i) {
        const batchtest::FilmOutcome o = batchtest::readFilm(reader, rule, film(random), phase(random));
        const double d = o.stored ? o.value - o.settled : 1.0;
        f.worst = std::max(f.worst, std::abs(d));
        f.bias += d / kFilms;
        f.readings += double(o.readings) / kFilms;
        f.seconds += o.seconds / kFilms;
    }
    return f;
}

void BM_SettledRule(benchmark::State& state)
{
    Figures now, before;
    for (auto _ : state) {
        now = run(true);
        before = run(false);
    }
    state.counters["films"] = kFilms;
    state.counters["worst"] = now.worst;
    state.counters["bias"] = now.bias;
    state.counters["readings"] = now.readings;
    state.counters["seconds"] = now.seconds;
    state.counters["old_worst"] = before.worst;
    state.counters["old_bias"] = before.bias;
    state.counters["old_readings"] = before.readings;
    state.counters["old_seconds"] = before.seconds;
    state.counters["extra_readings"] = now.readings - before.readings;
    state.counters["limit_worst"] = 0.001;
    state.counters["limit_extra"] = 1;
    state.counters["pass"] = now.worst <= 0.001 + 1e-9 && now.readings - before.readings <= 1 ? 1 : 0;
}
BENCHMARK(BM_SettledRule)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kalvor::bench
