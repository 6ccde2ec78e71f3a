#pragma once
// endProgram: the program stops at once. Registered flush steps run first (the
// port trace, the settings file, the link socket), then the process exits; no
// unload handler runs and no timer fires again. Tests replace the exit with a
// handler that throws ProgramEnded.
#include <functional>

namespace kalvor {

struct ProgramEnded {
    int status;
};

// Called with the exit status instead of exiting; it must not return (throw).
void setEndProgramHandler(std::function<void(int)> handler);
// Steps that must run on every orderly end, in the order added.
void addEndProgramStep(std::function<void()> step);
void clearEndProgramSteps();

[[noreturn]] void endProgram(int status);

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
} // namespace exitcode

} // namespace kalvor
