#pragma once
// The command line of kalvor, taken apart before any window system is
// needed: what to run, or the help, version or usage error to print.
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor {

struct StartOptions {
    bool simulate = false;
    QString simulateText;          // --simulate=OPTIONS
    QString portTrace;             // --port-trace=FILE; empty: no trace
    bool check = false;
    std::optional<int> checkAddress; // --check=ADDRESS, already in the card's range
};

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    StartOptions options;
    // Help or version text for standard output, or the usage error for
    // standard error (ending in a hint to --help).
    QString text;

    // The program proper needs a window system; --check does not.
    bool wantsWindow() const { return action == Action::Run && !options.check; }
};

// `args` as in main's argv, the program's own name first.
CommandLine parseCommandLine(const QStringList& args);

// A card address as written on the command line: hexadecimal, optionally
// prefixed 0x or &H, from 100 to 3E0. Nothing when it is not one.
std::optional<int> parseCardAddress(const QString& text);

} // namespace kalvor
