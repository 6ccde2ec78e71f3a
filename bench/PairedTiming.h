#pragma once
// Times a measured step and its floor one after the other in every benchmark
// iteration (alternating which goes first), so both see the same machine at
// the same moment. The ratio is the median of the per-iteration ratios, which
// a preempted iteration or a change of clock speed hardly moves.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace kalvor::bench {

class PairedTiming {
public:
    // Runs the benchmark loop; the benchmark's own (manual) time is the measured step's.
    template <class Measured, class Floor>
    void run(benchmark::State& state, Measured&& measured, Floor&& floor)
    {
        bool floorFirst = false;
        for (auto _ : state) {
            double m = 0;
            double f = 0;
            if (floorFirst) {
                f = seconds(floor);
                m = seconds(measured);
            } else {
                m = seconds(measured);
                f = seconds(floor);
            }
            floorFirst = !floorFirst;
            state.SetIterationTime(m);
            measured_.push_back(m);
            floor_.push_back(f);
            ratio_.push_back(f > 0 ? m / f : 0.0);
        }
    }

    // Medians, in microseconds and as a plain ratio.
    double measuredUs() { return median(measured_) * 1e6; }
    double floorUs() { return median(floor_) * 1e6; }
    double ratio() { return median(ratio_); }

private:
    template <class Step>
    static double seconds(Step& step)
    {
        const auto start = std::chrono::steady_clock::now();
        step();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    static double median(std::vector<double>& v)
    {
        if (v.empty())
            return 0;
        auto mid = v.begin() + v.size() / 2;
        std::nth_element(v.begin(), mid, v.end());
        return *mid;
    }

    std::vector<double> measured_;
    std::vector<double> floor_;
    std::vector<double> ratio_;
};

} // namespace kalvor::bench
