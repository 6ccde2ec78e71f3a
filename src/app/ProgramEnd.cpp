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
int g_endFault = exitcode::Ok;

constexpr ExitStatus kExitStatuses[] = {
    {exitcode::Ok, "normal end"},
    {exitcode::HeadTestFailed, "head test failed"},
    {exitcode::Usage, "usage"},
    {exitcode::AlreadyRunning, "KALVOR is already running (for this user, or on the card)"},
    {exitcode::NoPortAccess, "no port access"},
    {exitcode::BadSetting, "a stored setting is not valid, or the settings file cannot be read"},
    {exitcode::CardFailed, "the card stopped answering"},
    {exitcode::NoAddress, "no card address was set on the first start"},
    {exitcode::LinkFailed, "the link service could not start"},
    {exitcode::ReadingNotFinite, "a reading was not a finite number"},
    {exitcode::SettingsNotStored, "values of the session could not be stored in the settings file"},
    {exitcode::TraceIncomplete, "the port trace could not be written completely"},
    {exitcode::NoDisplay, "no display to show the window on"},
};
} // namespace

std::span<const ExitStatus> exitStatuses() { return kExitStatuses; }

void setEndProgramHandler(std::function<void(int)> h) { handler() = std::move(h); }

void addEndProgramStep(std::function<void()> step) { steps().push_back(std::move(step)); }

void clearEndProgramSteps() { steps().clear(); }

void noteEndFault(int status)
{
    if (g_endFault == exitcode::Ok)
        g_endFault = status;
}

int endFault() { return g_endFault; }

void clearEndFault() { g_endFault = exitcode::Ok; }

void endProgram(int status)
{
    // Each step runs once, even if a step ends the program again.
    auto pending = std::move(steps());
    steps().clear();
    for (auto& step : pending)
        if (step)
            step();
    if (status == exitcode::Ok)
        status = g_endFault;
    if (handler())
        handler()(status);
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace kalvor
