#pragma once
// The bounds the link service keeps its clients within.
#include <QtGlobal>
#include <optional>
#include <sys/types.h>

namespace kalvor {

struct LinkLimits {
    int maxClients = 64;
    int maxLineBytes = 1024;                // without the line end
    qint64 maxUnsentBytes = 1024 * 1024;    // queued for one client, then cut off
    int stallTimeoutMs = 30000;             // queued data without progress, then cut off
    qint64 writeLowWaterBytes = 16 * 1024;  // link updates wait while more is queued
    int idleTimeoutMs = 5 * 60 * 1000;      // no request and no link for this long, then closed
    std::optional<uid_t> peerUid;           // the allowed peer; unset: this process's user
};

} // namespace kalvor
