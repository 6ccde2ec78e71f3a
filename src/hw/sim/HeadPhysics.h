#pragma once
// The optics of a simulated reader head: lamp, light path and log photometer,
// reduced to the voltage at the card's converter input. Knows nothing of ports.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>

namespace kalvor::sim {

enum class Wavelength { Primary, Secondary };
enum class Holder { Film, Filter };
enum class NdFilter { None, Light, Medium, Dark };

class HeadPhysics {
public:
    static constexpr double kDefaultPrimaryLevel = 1.2;   // volts, fresh lamp, before gain
    static constexpr double kDefaultSecondaryLevel = 1.0;
    static constexpr double kDefaultGain = 1.9;
    static constexpr double kDefaultNoise = 0.0015;       // volts at the converter input
    static constexpr std::uint32_t kDefaultSeed = 5489u;
    static constexpr double kRailVolts = 5.0;
    // A film slid into the holder reaches its absorbance in the light path
    // this long after it was inserted.
    static constexpr double kSettleSeconds = 1.0;

    explicit HeadPhysics(std::uint32_t seed = kDefaultSeed);

    // Photometer output for a fresh lamp, per wavelength (volts before gain).
    void setLampLevel(Wavelength wl, double volts) { lamp_[index(wl)] = volts; }
    double lampLevel(Wavelength wl) const { return lamp_[index(wl)]; }
    // 1.0 = fresh lamp; the lamp level scales with it. At 0 no light reaches
    // the photometer: it rests at its dark level, 0 V, without noise.
    void setLampFraction(double fraction) { lampFraction_ = fraction; }
    double lampFraction() const { return lampFraction_; }

    void setWavelength(Wavelength wl) { wavelength_ = wl; }
    Wavelength wavelength() const { return wavelength_; }

    // What sits in the light path.
    void setHolder(Holder holder) { holder_ = holder; }
    Holder holder() const { return holder_; }
    // Absorbance of the dosimeter in the film holder, in place at once; empty
    // = no dosimeter.
    void setDosimeter(std::optional<double> absorbance)
    {
        dosimeter_ = absorbance;
        settleStart_.reset();
    }
    // A film slid into the film holder as a hand does it: sensed at once, its
    // absorbance in the light path goes from what was there before to
    // `absorbance` within settleSeconds(), fast at first and easing in.
    void insertFilm(double absorbance);
    bool settling() const;
    // How long a film slid in takes to come into place (kSettleSeconds unless
    // the simulation runs faster than life).
    void setSettleSeconds(double seconds) { settleSeconds_ = seconds; }
    double settleSeconds() const { return settleSeconds_; }
    // Seconds on a steady clock, for settling; a steady system clock by default.
    void setClock(std::function<double()> seconds) { clock_ = std::move(seconds); }
    std::optional<double> dosimeter() const { return dosimeter_; }
    // The neutral density filter in the filter holder.
    void setFilter(NdFilter filter) { filter_ = filter; }
    NdFilter filter() const { return filter_; }
    void setFilterAbsorbance(NdFilter filter, double absorbance) { ndf_[static_cast<int>(filter)] = absorbance; }
    double filterAbsorbance(NdFilter filter) const { return ndf_[static_cast<int>(filter)]; }

    void setGain(double gain) { gain_ = gain; }
    double gain() const { return gain_; }

    // Gaussian noise at the converter input; 0 switches it off.
    void setNoiseSigma(double volts);
    double noiseSigma() const { return sigma_; }
    void seed(std::uint32_t value);

    // Absorbance of whatever is in the light path of the current holder, now.
    double pathAbsorbance() const;
    // True while a dosimeter sits in the film holder (the head's sensor).
    bool dosimeterSensed() const { return holder_ == Holder::Film && dosimeter_.has_value(); }

    // Converter input without noise, clipped to the rails.
    double idealVoltage() const;
    // One sample: converter input with noise, clipped to the rails.
    double sampleVoltage();
    // One sample as the converter's 12-bit count.
    int sampleCount() { return countForVoltage(sampleVoltage()); }

    // round((V + 5) x 409.5), clamped to 0..4095.
    static int countForVoltage(double volts);
    static double clip(double volts);

private:
    static int index(Wavelength wl) { return wl == Wavelength::Primary ? 0 : 1; }
    double now() const;
    double dosimeterAbsorbance() const;

    std::array<double, 2> lamp_{kDefaultPrimaryLevel, kDefaultSecondaryLevel};
    std::array<double, 4> ndf_{0.0, 0.3, 0.8, 1.5};
    double lampFraction_ = 1.0;
    Wavelength wavelength_ = Wavelength::Primary;
    Holder holder_ = Holder::Film;
    std::optional<double> dosimeter_;
    std::optional<double> settleStart_; // clock time of the last insertFilm while it settles
    double settleFrom_ = 0.0;
    double settleSeconds_ = kSettleSeconds;
    std::function<double()> clock_;
    NdFilter filter_ = NdFilter::None;
    double gain_ = kDefaultGain;
    std::mt19937 rng_;
    double sigma_ = kDefaultNoise;
    std::normal_distribution<double> unitNoise_{0.0, 1.0};
};

} // namespace kalvor::sim
