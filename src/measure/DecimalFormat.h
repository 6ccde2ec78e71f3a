#pragma once
// The one number format of the readings: the main window's absorbance and the
// filter check's results both show a value through it, so a value shows the
// same digits in both windows.
#include <QString>

namespace kalvor {

// At least one digit before the point, exactly three after it, a minus sign for
// a negative value: 0.5 -> "0.500", -0.25 -> "-0.250", 1234.5 -> "1234.500".
// Rounding is half away from zero on the value's shortest decimal form (the
// fewest digits that read back as the same double), as a person rounds the
// printed number: 0.1235 -> "0.124", 1.0005 -> "1.001", -1.2345 -> "-1.235".
// A value that rounds to zero is "0.000", never "-0.000". Not-a-number and
// infinities give "nan", "inf" and "-inf".
QString formatThreeDecimals(double value);

} // namespace kalvor
