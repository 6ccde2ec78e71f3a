#pragma once
// The batch window's run from start to end: one window per user, the record
// store, the stability rule, the batch named on the command line (or asked
// for), and an orderly end on Quit, a closed window or SIGTERM/SIGINT/SIGHUP.
#include "batch/CommandLine.h"

namespace kalvor::batchwin {

// Needs a QApplication. Returns the exit status.
int runBatchWindow(const batch::CommandLine& commandLine);

} // namespace kalvor::batchwin
