#pragma once
// The simulated reader's start-up settings, from the text of the
// --simulate=KEY=VALUE,... option, e.g. "address=2A0,dosimeter=0.35,seed=7".
#include "hw/sim/HeadPhysics.h"
#include "hw/sim/SimulatedCard.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace kalvor::sim {

struct SimOptions {
    std::uint16_t address = SimulatedCard::kDefaultAddress;         // address=HEX (0x100..0x3E0, multiple of 8)
    QString identity = QString::fromLatin1(SimulatedCard::kDefaultIdentity); // identity=TEXT (Latin-1, up to 64)
    std::optional<double> dosimeter;                                 // dosimeter=<absorbance>|none
    Holder holder = Holder::Film;                                    // holder=film|filter
    NdFilter filter = NdFilter::None;                                // filter=none|light|medium|dark
    double lamp = 1.0;                                               // lamp=<fraction 0..2>
    std::uint32_t seed = HeadPhysics::kDefaultSeed;                  // seed=<n>
    bool headConnected = true;                                       // head=connected|unplugged
    bool adcStuck = false;                                           // adc=ok|stuck
    double noise = HeadPhysics::kDefaultNoise;                       // noise=<volts 0..1>
    bool cardPresent = true;                                         // card=present|removed
    double speed = 1.0;                                              // speed=<factor 1..20>: faster than life, for tests
};

struct SimOptionsParse {
    SimOptions options;
    QString error; // empty when the text was accepted
    bool ok() const { return error.isEmpty(); }
};

// Parses "KEY=VALUE,..." (a leading "--simulate=" is skipped; empty text gives
// the defaults). Stops at the first bad key or value with an error text naming it.
SimOptionsParse parseSimOptions(QStringView text);

// Puts every option into the card (the identity also sets the head's gain).
void applySimOptions(const SimOptions& options, SimulatedCard& card);

} // namespace kalvor::sim
