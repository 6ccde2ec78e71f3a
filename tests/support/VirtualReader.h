#pragma once
// The simulated reader with a clock of its own, for what happens over many
// reading cycles: the card, its head and the program's own reading (1200
// conversions, smoothing, zero, the absorbance as label A shows it), taken
// every `period` seconds of virtual time, with films slid in by hand at any
// moment. Nothing waits: fifty films take milliseconds.
#include "core/ReaderState.h"
#include "hw/sim/SimulatedCard.h"
#include "measure/Absorbance.h"
#include "measure/Acquisition.h"

#include <QString>

namespace kalvor::test {

class VirtualReader {
public:
    static constexpr double kPeriod = 0.6;  // from the end of one reading to the next

    explicit VirtualReader(std::uint32_t seed)
    {
        card_.setNoiseSeed(seed);
        card_.setClock([this] { return now_; });
        state_.base = static_cast<std::int16_t>(sim::SimulatedCard::kDefaultAddress);
        state_.rdrGain = card_.physics().gain();
        acquisition_.getVoltages();  // the zero, on the empty holder
        state_.z1 = state_.v1;
    }

    double now() const { return now_; }
    // Waits `seconds` (less than a period: the next reading stays where it is).
    void wait(double seconds) { now_ += seconds; }
    void insertFilm(double absorbance) { card_.insertFilm(absorbance); }
    void removeFilm() { card_.setDosimeter(std::nullopt); }

    // The next reading of the cycle: its absorbance as shown (" 0.512").
    QString read()
    {
        now_ = nextReading_;
        acquisition_.getVoltages();
        nextReading_ = now_ + kPeriod;
        return formatAbsorbance(state_.z1 - state_.v1);
    }

private:
    sim::SimulatedCard card_;
    ReaderState state_;
    Acquisition acquisition_{state_, card_, [] {}};
    double now_ = 0;
    double nextReading_ = 0;
};

} // namespace kalvor::test
