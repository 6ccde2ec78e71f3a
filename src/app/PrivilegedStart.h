#pragma once
// A start with raised privileges: the installed kalvor carries the
// CAP_SYS_RAWIO file capability (or a set-uid bit). What the privilege is for
// happens here, first thing in main, before Qt reads plugin paths and other
// settings from the caller's environment: the card's ports are opened when the
// command line needs the card, then every privilege is given up. An ordinary
// start (no raised privileges) passes through unchanged.
#include <QString>

namespace kalvor {

// True when the command line runs without the card: the simulated reader,
// --help, --version.
bool needsNoCard(int argc, char** argv);

// False, with the reason in *why, when the privileges could not be given up.
bool startPrivileged(int argc, char** argv, QString* why);

} // namespace kalvor
