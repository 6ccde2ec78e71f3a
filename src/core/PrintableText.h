#pragma once
// Text from outside (a hand-edited setting, a file name) made safe to show in
// a report: control characters, which would cut the report short (NUL) or
// garble it, appear as \xHH, and a backslash as \\.
#include <QString>

namespace kalvor {

QString printableText(const QString& text);

} // namespace kalvor
