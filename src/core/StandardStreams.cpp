#include "core/StandardStreams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kalvor {

void reopenClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() returns the lowest free descriptor: this one, since those
        // below it are open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
}

} // namespace kalvor
