#pragma once
// Whether a reading can be trusted, from what the card tells of it: the spread
// of its conversions and the absorbance it gives. Served as the reader's status.
#include "measure/Acquisition.h"

#include <QString>

namespace kalvor {

enum class ReadingStatus {
    Zeroing,   // no reading since the last zero was ordered
    Ok,        // a sound reading
    Floor,     // the most frequent count is the converter's lowest code (-5 V)
    Ceiling,   // the most frequent count is the converter's highest code (+5 V)
    Flat,      // every conversion gave the same count: no lit photometer is that steady
    Scattered, // fewer than half of the conversions lie within the top 21 counts
    OverRange, // absorbance above 3.0 (A shows ">3.0")
    Timeout,   // the converter stopped answering; the program ends
};

// The status as served: "zeroing", "ok", "floor", "ceiling", "flat",
// "scattered", "over-range", "timeout".
QString statusText(ReadingStatus status);

// The status of a finished reading (the first rule that holds, in the order
// of the enumeration from Floor on).
ReadingStatus checkReading(const ReadingSpread& spread, int conversions, double absorbance);

} // namespace kalvor
