#include "app/ProgramEnd.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kalvor {

namespace {
std::function<void(int)>& handler()
{
    static std::function<void(int)> h;
    return h;
}
std::vector<std::function<void()>>& steps()
{
    static std::vector<std::function<void()>> s;
    return s;
}
} // namespace

void setEndProgramHandler(std::function<void(int)> h) { handler() = std::move(h); }

void addEndProgramStep(std::function<void()> step) { steps().push_back(std::move(step)); }

void clearEndProgramSteps() { steps().clear(); }

void endProgram(int status)
{
    // Each step runs once, even if a step ends the program again.
    auto pending = std::move(steps());
    steps().clear();
    for (auto& step : pending)
        if (step)
            step();
    if (handler())
        handler()(status);
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace kalvor
