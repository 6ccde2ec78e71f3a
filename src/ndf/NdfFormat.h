#pragma once
// The text of a filter result: the "0.##0" picture of the filter check.
#include <QString>

namespace kalvor {

// At least one digit before the point, exactly three decimals, a leading minus
// for a negative result and no upper limit: 0.5 -> "0.500", 1.2345 -> "1.235",
// -0.25 -> "-0.250", 4.2 -> "4.200".
//
// The two "#" positions stand before a "0" position, so a digit is shown for
// them whenever the last decimal is shown: the result always has three
// decimals. Rounding is half away from zero on the value's shortest decimal
// form of 15 significant digits, so 1.2345 (stored as 1.23449999...) gives
// "1.235" as the user reading the number expects. A value that rounds to zero
// is shown as "0.000", never as "-0.000".
QString formatNdf(double value);

} // namespace kalvor
