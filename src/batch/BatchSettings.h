#pragma once
// kalvor-batch's own settings, kept apart from the reader program's:
// $XDG_CONFIG_HOME/KALVOR/kalvor-batch.conf, section [Capture]; and the
// record store, Store= (a file or a postgresql:// URI), which an
// administrator may set for every account of the PC in
// <dir>/KALVOR/kalvor-batch.conf of $XDG_CONFIG_DIRS (/etc/xdg): the user's
// file wins, then the first of those folders that has it.
#include "batch/Stability.h"

#include <QString>

namespace kalvor::batch {

class BatchSettings {
public:
    static QString filePath();

    // The stored stability rule; the defaults for anything missing or out of range.
    static StabilityRule rule();
    static void setRule(const StabilityRule& rule);

    // The record store when --store is not given: Store= as above, else the
    // file RecordStore::defaultPath().
    static QString store();
    // The help text of --store, naming that default.
    static QString storeHelp();
};

} // namespace kalvor::batch
