#pragma once
// Text from the store (a dosimeter ID, a batch name, a path) made safe to put
// in a text file that people read in a terminal: control characters appear
// as \xHH and a backslash as \\. The same rule as kalvor::printableText in
// src/core, which this layer may not use.
#include <QString>

namespace kalvor::records {

QString printable(const QString& text);

} // namespace kalvor::records
