// The calibration engine's cost: fitting 50 films (10 doses, 5 films each)
// with every model, and one dose with its uncertainty budget from a fitted
// curve. Each figure is the median of the per-iteration times.
#include "calib/DoseUncertainty.h"
#include "calib/Fit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

namespace kalvor::bench {
namespace {

constexpr double kFitLimitUs = 5000;
constexpr double kDoseLimitUs = 20;

// A film lot's response, gently saturating, with 1 % film-to-film scatter
// (fixed seed, so every run fits the same points).
std::vector<calib::Point> filmPoints()
{
    std::mt19937 random(20261207);
    std::normal_distribution<double> scatter(0.0, 0.01);
    std::vector<calib::Point> points;
    for (int level = 1; level <= 10; ++level) {
        const double dose = 5.0 * level;
        const double response = 1.6 * (1 - std::exp(-0.025 * dose)) + 0.01;
        for (int film = 0; film < 5; ++film)
            points.push_back({dose, response * (1 + scatter(random))});
    }
    return points;
}

template <class Step>
void timeMedian(benchmark::State& state, Step&& step, double limitUs)
{
    std::vector<double> us;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        step();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(us.begin(), us.begin() + std::ptrdiff_t(us.size() / 2), us.end());
    const double median = us[us.size() / 2];
    state.counters["measured_us"] = median;
    state.counters["limit_us"] = limitUs;
    state.counters["pass"] = median < limitUs ? 1 : 0;
}

void fitModel(benchmark::State& state, const calib::Model& model)
{
    const std::vector<calib::Point> points = filmPoints();
    const calib::FitResult check = calib::fitCalibration(model, points);
    if (!check.ok()) {
        state.SkipWithError(check.refusal.toStdString().c_str());
        return;
    }
    timeMedian(state, [&] { benchmark::DoNotOptimize(calib::fitCalibration(model, points)); }, kFitLimitUs);
}

void BM_CalibDose(benchmark::State& state)
{
    const calib::FitResult fit = calib::fitCalibration(*calib::Model::parse(QStringLiteral("exp"), false), filmPoints());
    if (!fit.ok()) {
        state.SkipWithError(fit.refusal.toStdString().c_str());
        return;
    }
    // A film of 23.4 kGy, read 3 times, 0.1 mm thick.
    calib::FilmReading reading;
    reading.response = fit.calibration->response(23.4);
    reading.thickness = 0.1;
    reading.spread = 0.002;
    reading.count = 3;
    reading.thicknessU = 0.002;
    timeMedian(state, [&] { benchmark::DoNotOptimize(calib::estimateDose(*fit.calibration, reading, 0.012)); },
               kDoseLimitUs);
}

const bool registered = [] {
    for (const QString& name : calib::Model::names())
        for (bool throughZero : {false, true}) {
            const calib::Model model = *calib::Model::parse(name, throughZero);
            if (throughZero && model.family() == calib::Model::Family::Poly)
                continue;  // the same linear solve with one column fewer
            const std::string label = "BM_CalibFit_" + name.toStdString() + (throughZero ? "_tz" : "");
            benchmark::RegisterBenchmark(label.c_str(), [model](benchmark::State& s) { fitModel(s, model); });
        }
    benchmark::RegisterBenchmark("BM_CalibDose", BM_CalibDose);
    return true;
}();

} // namespace
} // namespace kalvor::bench
