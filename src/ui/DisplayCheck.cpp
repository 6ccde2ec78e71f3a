#include "ui/DisplayCheck.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kalvor {

namespace {

bool isSet(const char* name) { return !qEnvironmentVariableIsEmpty(name); }

struct Guarded {
    const char* program = nullptr;
    int status = 0;
    QString hint;
    QtMessageHandler previous = nullptr;
};
Guarded g_guarded;

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        const QString display = qEnvironmentVariable("DISPLAY");
        const QString why = display.isEmpty()
                                ? QStringLiteral("the window system cannot be reached.")
                                : QStringLiteral("the display %1 cannot be reached (the lines above say more).")
                                      .arg(display);
        std::fprintf(stderr, "%s\n", noDisplayReport(g_guarded.program, why, g_guarded.hint).toLocal8Bit().constData());
        std::fflush(stderr);
        std::_Exit(g_guarded.status);
    }
    if (g_guarded.previous)
        g_guarded.previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

std::optional<QString> missingDisplay(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0
            || std::strncmp(argv[i], "-platform=", 10) == 0 || std::strncmp(argv[i], "--platform=", 11) == 0)
            return std::nullopt;
    if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::nullopt;
    return QStringLiteral("there is no display: neither DISPLAY nor WAYLAND_DISPLAY is set "
                          "(a login through ssh without X forwarding?).");
}

QString noDisplayReport(const char* program, const QString& why, const QString& hint)
{
    return QStringLiteral("%1: cannot open a window: %2 %3").arg(QLatin1String(program), why, hint);
}

DisplayGuard::DisplayGuard(const char* program, int status, QString hint)
{
    g_guarded.program = program;
    g_guarded.status = status;
    g_guarded.hint = std::move(hint);
    g_guarded.previous = qInstallMessageHandler(onMessage);
}

DisplayGuard::~DisplayGuard() { qInstallMessageHandler(g_guarded.previous); }

} // namespace kalvor
