#pragma once
// endProgram: the program stops at once. Registered flush steps run first (the
// port trace, the settings file, the link socket), then the process exits; no
// unload handler runs and no timer fires again. Tests replace the exit with a
// handler that throws ProgramEnded.
#include <functional>
#include <span>

namespace kalvor {

struct ProgramEnded {
    int status;
};

// Called with the exit status instead of exiting; it must not return (throw).
void setEndProgramHandler(std::function<void(int)> handler);
// Steps that must run on every orderly end, in the order added.
void addEndProgramStep(std::function<void()> step);
void clearEndProgramSteps();

// Something went wrong that does not stop the program at once (values that
// could not be stored, a port trace cut short): the program ends with this
// status instead of 0. The first fault noted wins; a non-zero status given to
// endProgram wins over every fault.
void noteEndFault(int status);
int endFault();
void clearEndFault();

[[noreturn]] void endProgram(int status);

// The program's exit statuses. This list is the one place they are kept:
// --help prints it, and the README repeats it.
namespace exitcode {
constexpr int Ok = 0;
constexpr int HeadTestFailed = 1;
constexpr int Usage = 2;
constexpr int AlreadyRunning = 3;
constexpr int NoPortAccess = 4;
constexpr int BadSetting = 5;
constexpr int CardFailed = 6;
constexpr int NoAddress = 7;
constexpr int LinkFailed = 8;
constexpr int ReadingNotFinite = 9;
constexpr int SettingsNotStored = 10;
constexpr int TraceIncomplete = 11;
constexpr int NoDisplay = 12;
} // namespace exitcode

struct ExitStatus {
    int status;
    const char* meaning;
};
std::span<const ExitStatus> exitStatuses();

} // namespace kalvor
