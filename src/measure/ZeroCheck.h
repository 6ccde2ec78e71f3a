#pragma once
// Whether the zero can be trusted: the zero's own reading judged like any
// reading, what the head's sensor saw while it was taken, its level against
// the last good zero of the same head and wavelength, and what readings of the
// empty head show afterwards. Served as the reader's zeroStatus; while it is
// not ok, every reading's status is bad-zero.
//
//   zeroing --zero taken--> film | floor | ceiling | flat | scattered | dark | ok
//        (the first that holds; ok stores the zero as the last good one)
//   ok --a sound reading of the empty head beyond +-0.05--> stale
//   any state but zeroing --zero taken--> judged afresh, as from zeroing
#include "measure/Acquisition.h"
#include "measure/ReadingCheck.h"

#include <QString>
#include <array>
#include <optional>

namespace kalvor {

class SettingsStore;

enum class ZeroStatus {
    Zeroing,   // no zero taken yet
    Ok,        // a sound zero
    Film,      // the head's sensor saw a dosimeter while the zero was taken
    Floor,     // the zero's own reading: converter at its lowest code
    Ceiling,   // at its highest code
    Flat,      // every conversion the same count (lamp out, head unplugged)
    Scattered, // an unsteady input
    Dark,      // below kDarkZeroRatio of this head's last good zero at this wavelength
    Stale,     // since the zero, a reading of the empty head beyond +-kStaleLimit
};

// "zeroing", "ok", "film", "floor", "ceiling", "flat", "scattered", "dark", "stale".
QString zeroStatusText(ZeroStatus status);

// A zero that falls below this share of the head's last good zero at the same
// wavelength has lost light: a dim or failing lamp, something in the path.
constexpr double kDarkZeroRatio = 0.8;
// A reading of the empty head further from 0 than this shows that the lamp
// has drifted since the zero, or that the zero was taken on something.
constexpr double kStaleLimit = 0.05;

// The status of a zero just taken (the first that holds): Film, the
// conversion states of its own reading, Dark (only with a last good zero
// known), else Ok.
ZeroStatus checkZero(bool dosimeterSensed, const ReadingSpread& spread, int conversions, double volts,
                     std::optional<double> lastGoodZero);

class ZeroJudge {
public:
    explicit ZeroJudge(SettingsStore& settings) : settings_(settings) {}

    // The head whose zeros follow: its serial number and its two wavelength
    // fields (a field that holds no wavelength of 400..780 nm keeps no last
    // good zero). Reads the stored last good zeros; throws SettingsError for
    // one that is no positive, finite, normal number.
    void useHead(const QString& serial, const QString& primaryWavelength, const QString& secondaryWavelength);

    // A zero has been taken at the given wavelength: judged, and when sound,
    // kept as that wavelength's last good zero and stored in the settings
    // file at once, so that a program that is killed keeps it too.
    ZeroStatus zeroTaken(bool secondary, bool dosimeterSensed, const ReadingSpread& spread, double volts);

    // A reading taken with the head's sensor read just before it and just
    // after it. Turns a sound zero stale, and returns true, when the sensor
    // said the head was empty both times, the conversions of the reading are
    // sound, and its absorbance lies beyond +-kStaleLimit. (A film pulled out
    // during the reading leaves the sensor's earlier answer "dosimeter", so
    // its reading never counts.)
    bool readingSensed(bool emptyBefore, bool emptyAfter, ReadingStatus conversion, double absorbance);

    ZeroStatus status() const { return status_; }
    bool sound() const { return status_ == ZeroStatus::Ok; }
    std::optional<double> lastGoodZero(bool secondary) const { return lastGood_[secondary ? 1 : 0]; }

private:
    SettingsStore& settings_;
    ZeroStatus status_ = ZeroStatus::Zeroing;
    QString serial_;
    std::array<QString, 2> wavelengths_;               // empty: none kept
    std::array<std::optional<double>, 2> lastGood_;
};

} // namespace kalvor
