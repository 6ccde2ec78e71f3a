#pragma once
// kalvor-batch's own settings, kept apart from the reader program's:
// $XDG_CONFIG_HOME/KALVOR/kalvor-batch.conf, section [Capture].
#include "batch/Stability.h"

#include <QString>

namespace kalvor::batch {

class BatchSettings {
public:
    static QString filePath();

    // The stored stability rule; the defaults for anything missing or out of range.
    static StabilityRule rule();
    static void setRule(const StabilityRule& rule);
};

} // namespace kalvor::batch
