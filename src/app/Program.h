#pragma once
// Brings the program up: one copy per user, the port access, then either the
// command-line check or the main window with its link service.
#include <QString>

namespace kalvor {

// simulate: null for the card on the bus, else the --simulate options text.
int runProgram(const QString* simulate, const QString& portTrace, bool check, const QString& checkAddress, bool gui);

} // namespace kalvor
