#pragma once
// A window program started where there is no display (ssh without X
// forwarding, a service, `env -u DISPLAY`) gets no further than Qt's
// platform plugin, which aborts the process with a core dump. Both window
// programs check first and, when there is nothing to show a window on, say
// so and end with a status of their own:
//   - before QApplication: no -platform option, no QT_QPA_PLATFORM, and
//     neither DISPLAY nor WAYLAND_DISPLAY set;
//   - while QApplication starts: a display that is named but cannot be
//     reached (the platform plugin's fatal error is turned into the same end).
#include <QString>
#include <optional>

namespace kalvor {

// Why no window can be shown, or nothing when a window system may be there.
std::optional<QString> missingDisplay(int argc, char** argv);

// The report for standard error: "<program>: cannot open a window: <why> <hint>".
QString noDisplayReport(const char* program, const QString& why, const QString& hint);

// For its lifetime, a fatal error of Qt's platform plugin prints
// noDisplayReport and ends the process with `status` instead of aborting.
class DisplayGuard {
public:
    DisplayGuard(const char* program, int status, QString hint);
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard&) = delete;
    DisplayGuard& operator=(const DisplayGuard&) = delete;
};

} // namespace kalvor
