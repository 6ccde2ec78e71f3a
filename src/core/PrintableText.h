#pragma once
// Text from outside (a hand-edited setting, a file name) made safe to show in
// a report: control characters, which would cut the report short (NUL) or
// garble it, appear as \xHH, and a backslash as \\.
#include <QString>

namespace kalvor {

QString printableText(const QString& text);

// Text for a terminal: lines stay lines, but no other control character (an
// escape sequence that recolours or rewrites the screen) and no invisible
// formatting character (a right-to-left override) reaches it: each shows as
// \xHH or \uHHHH. Backslashes stay as they are.
QString terminalText(const QString& text);

} // namespace kalvor
