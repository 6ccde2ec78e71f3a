#pragma once
// Whether a reading can be trusted, from what the card tells of it: the spread
// of its conversions, the absorbance it gives and whether the zero it is
// taken against is sound. Served as the reader's status.
#include "measure/Acquisition.h"

#include <QString>

namespace kalvor {

enum class ReadingStatus {
    Zeroing,    // no reading since the last zero was ordered
    NoHead,     // the head test at start fails: no card or no head answers
    Ok,         // a sound reading
    Floor,      // the most frequent count is the converter's lowest code (-5 V)
    Ceiling,    // the most frequent count is the converter's highest code (+5 V)
    Flat,       // every conversion gave the same count: no lit photometer is that steady
    Scattered,  // fewer than two thirds of the conversions lie within 25 counts of the peak
    BadZero,    // the zero the reading is taken against is not sound (ZeroStatus)
    OverRange,  // absorbance above 3.0 (A shows ">3.0")
    UnderRange, // absorbance below -0.05: less in the path than at the zero
    Timeout,    // the converter stopped answering; the program ends
};

// The status as served: "zeroing", "no-head", "ok", "floor", "ceiling",
// "flat", "scattered", "bad-zero", "over-range", "under-range", "timeout".
QString statusText(ReadingStatus status);

// A steady input: at least two thirds of the conversions within
// Acquisition::kNearPeak counts of the peak. With the photometer's noise of a
// few counts all of them are; noise of 6 counts (15 mV) still keeps more than
// 99 % there, noise of 20 counts (50 mV) or two clusters of equal size far
// apart keep at most about half.
constexpr int kSteadyShareNumerator = 2;
constexpr int kSteadyShareDenominator = 3;
// Below this absorbance the path holds less than it did at the zero.
constexpr double kUnderRangeLimit = -0.05;

// What the conversions alone tell (the first that holds): Floor, Ceiling,
// Flat, Scattered, else Ok. The zero is judged by these too.
ReadingStatus conversionStatus(const ReadingSpread& spread, int conversions);

// The status of a finished reading, the first that holds: its conversion
// status when not Ok, BadZero when the zero is not sound, OverRange,
// UnderRange, else Ok.
ReadingStatus checkReading(const ReadingSpread& spread, int conversions, double absorbance, bool zeroSound);

} // namespace kalvor
