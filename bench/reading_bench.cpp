// The program's own cost around the port accesses of one reading (1200
// conversions) and of one read of the head's EEPROM image, each against a
// floor of just as many virtual port calls on the same instant-answer port.
// On real hardware every ISA port access takes about 1 us, so the program's
// share must stay a small fraction of that bus time.
#include "InstantPort.h"
#include "PairedTiming.h"
#include "PortFloor.h"

#include "core/ReaderState.h"
#include "hw/HeadLink.h"
#include "measure/Acquisition.h"

#include <benchmark/benchmark.h>

namespace kalvor::bench {
namespace {

constexpr std::uint16_t kBase = 0x300;
constexpr double kBusUsPerAccess = 1.0;   // one ISA port access on the real card
constexpr double kOwnShareLimit = 0.01;   // of the bus time of the same step

// Reading: per conversion one start write, at least one status read, two result reads.
constexpr int kAdcWrites = Acquisition::kConversions;
constexpr int kAdcReads = 3 * Acquisition::kConversions;
// EEPROM image: 32 registers read over the three-wire link.
constexpr int kEepromWrites = 2209;
constexpr int kEepromReads = 512;

// Sets the counters run.sh reads: medians of the measured step and its floor,
// their ratio, and the program's own share against the bus time of the step.
void report(benchmark::State& state, PairedTiming& t, int accesses)
{
    const double busUs = accesses * kBusUsPerAccess;
    const double ownUs = t.measuredUs() - t.floorUs();
    state.counters["measured_us"] = t.measuredUs();
    state.counters["floor_us"] = t.floorUs();
    state.counters["ratio"] = t.ratio();
    state.counters["own_us"] = ownUs;
    state.counters["bus_us"] = busUs;
    state.counters["own_pct"] = 100.0 * ownUs / busUs;
    state.counters["limit_pct"] = 100.0 * kOwnShareLimit;
    state.counters["pass"] = ownUs < kOwnShareLimit * busUs ? 1 : 0;
}

bool countsAre(benchmark::State& state, const InstantPort& port, std::uint64_t writes, std::uint64_t reads)
{
    if (port.writes == writes && port.reads == reads)
        return true;
    const std::string what = "the step made " + std::to_string(port.writes) + " writes and "
                             + std::to_string(port.reads) + " reads, the floor assumes "
                             + std::to_string(writes) + " and " + std::to_string(reads);
    state.SkipWithError(what.c_str());
    return false;
}

void BM_Reading(benchmark::State& state)
{
    InstantPort port(kBase);
    ReaderState s;
    s.base = kBase;
    s.rdrGain = 1.9;
    Acquisition acquisition(s, port, nullptr);

    acquisition.getVoltages();
    if (!countsAre(state, port, kAdcWrites, kAdcReads))
        return;

    PairedTiming t;
    t.run(
        state,
        [&] {
            acquisition.getVoltages();
            benchmark::DoNotOptimize(s.v1);
        },
        [&] {
            unsigned sum = adcFloor(port, kBase, Acquisition::kConversions);
            benchmark::DoNotOptimize(sum);
        });
    report(state, t, kAdcWrites + kAdcReads);
}
BENCHMARK(BM_Reading)->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

void BM_Eeprom(benchmark::State& state)
{
    InstantPort port(kBase);
    ReaderState s;
    s.testBase = kBase;
    s.Control = 0x02;
    HeadLink head(s, port);

    QString image = head.getEEPROM();
    if (image.size() != 64) {
        state.SkipWithError("getEEPROM did not give 64 characters");
        return;
    }
    if (!countsAre(state, port, kEepromWrites, kEepromReads))
        return;

    PairedTiming t;
    t.run(
        state,
        [&] {
            image = head.getEEPROM();
            benchmark::DoNotOptimize(image);
        },
        [&] {
            unsigned sum = portCallFloor(port, kBase, kEepromWrites, kEepromReads);
            benchmark::DoNotOptimize(sum);
        });
    report(state, t, kEepromWrites + kEepromReads);
}
BENCHMARK(BM_Eeprom)->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kalvor::bench
