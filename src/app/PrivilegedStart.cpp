#include "app/PrivilegedStart.h"

#include "hw/DirectPortIo.h"

#include <cstring>
#include <sys/auxv.h>

namespace kalvor {

bool needsNoCard(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--simulate") == 0 || std::strcmp(a, "-simulate") == 0
            || std::strncmp(a, "--simulate=", 11) == 0 || std::strcmp(a, "--help") == 0
            || std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help-all") == 0
            || std::strcmp(a, "--version") == 0 || std::strcmp(a, "-v") == 0)
            return true;
    }
    return false;
}

bool startPrivileged(int argc, char** argv, QString* why)
{
    // The kernel marks a start that gained privileges through a file
    // capability or set-uid/set-gid bit as secure.
    if (::getauxval(AT_SECURE) == 0)
        return true;
    if (!needsNoCard(argc, argv))
        DirectPortIo::openAhead();
    QString dropWhy;
    if (!dropPrivileges(&dropWhy)) {
        *why = QStringLiteral("KALVOR will not run with more privileges than it needs: %1").arg(dropWhy);
        return false;
    }
    return true;
}

} // namespace kalvor
