#include "hw/sim/HeadPhysics.h"

#include <algorithm>
#include <chrono>
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

double HeadPhysics::now() const
{
    if (clock_)
        return clock_();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void HeadPhysics::insertFilm(double absorbance)
{
    settleFrom_ = dosimeterAbsorbance();
    dosimeter_ = absorbance;
    settleStart_ = now();
}

bool HeadPhysics::settling() const { return settleStart_ && now() - *settleStart_ < settleSeconds_; }

double HeadPhysics::dosimeterAbsorbance() const
{
    const double target = dosimeter_.value_or(0.0);
    if (!settleStart_)
        return target;
    const double x = (now() - *settleStart_) / settleSeconds_;
    if (x >= 1.0)
        return target;
    const double rest = 1.0 - std::max(x, 0.0);
    return target + (settleFrom_ - target) * rest * rest * rest;
}

double HeadPhysics::pathAbsorbance() const
{
    if (holder_ == Holder::Film)
        return dosimeterAbsorbance();
    return filterAbsorbance(filter_);
}

double HeadPhysics::clip(double volts) { return std::clamp(volts, -kRailVolts, kRailVolts); }

double HeadPhysics::idealVoltage() const
{
    if (lampFraction_ <= 0.0)
        return 0.0;
    return clip(gain_ * (lamp_[index(wavelength_)] * lampFraction_ - pathAbsorbance()));
}

double HeadPhysics::sampleVoltage()
{
    if (lampFraction_ <= 0.0)
        return 0.0;
    if (settleStart_ && !settling())
        settleStart_.reset(); // settled: no more clock reads per sample
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
