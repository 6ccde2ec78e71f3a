#pragma once
// Brings the program up: one copy per user, one program per card, the port
// access, then either the command-line check or the main window with its
// link service.
#include "app/CommandLine.h"

namespace kalvor {

int runProgram(const StartOptions& options, bool gui);

} // namespace kalvor
