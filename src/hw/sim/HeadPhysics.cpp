#include "hw/sim/HeadPhysics.h"

#include <algorithm>
#include <cmath>

namespace kalvor::sim {

HeadPhysics::HeadPhysics(std::uint32_t seed) : rng_(seed) {}

void HeadPhysics::setNoiseSigma(double volts)
{
    sigma_ = std::max(0.0, volts);
}

void HeadPhysics::seed(std::uint32_t value)
{
    rng_.seed(value);
    unitNoise_.reset();
}

double HeadPhysics::pathAbsorbance() const
{
    if (holder_ == Holder::Film)
        return dosimeter_.value_or(0.0);
    return filterAbsorbance(filter_);
}

double HeadPhysics::clip(double volts) { return std::clamp(volts, -kRailVolts, kRailVolts); }

double HeadPhysics::idealVoltage() const
{
    return clip(gain_ * (lamp_[index(wavelength_)] * lampFraction_ - pathAbsorbance()));
}

double HeadPhysics::sampleVoltage()
{
    const double ideal = gain_ * (lamp_[index(wavelength_)] * lampFraction_ - pathAbsorbance());
    if (sigma_ <= 0.0)
        return clip(ideal);
    return clip(ideal + sigma_ * unitNoise_(rng_));
}

int HeadPhysics::countForVoltage(double volts)
{
    const long count = std::lround((volts + kRailVolts) * 409.5);
    return static_cast<int>(std::clamp(count, 0L, 4095L));
}

} // namespace kalvor::sim
