#pragma once
// kalvor-batch's own settings, kept apart from the reader program's:
// $XDG_CONFIG_HOME/KALVOR/kalvor-batch.conf, sections [Capture] and [Report];
// and the record store, Store= (a file or a postgresql:// URI). [Report]
// (LabName, LabAddress) and Store= may also come from
// <dir>/KALVOR/kalvor-batch.conf for each dir of $XDG_CONFIG_DIRS (/etc/xdg by
// default), set once for every account; a key in the user's file wins, then
// the first folder's that has it.
#include "batch/Stability.h"

#include <QString>
#include <QStringList>

namespace kalvor::batch {

class BatchSettings {
public:
    static QString filePath();

    // The stored stability rule; the defaults for anything missing or out of range.
    static StabilityRule rule();
    static void setRule(const StabilityRule& rule);

    // The files a value is looked up in, the user's first.
    static QStringList filesInOrder();
    // [Report] LabName and LabAddress (lines separated by \n in the file).
    static QString labName();
    static QString labAddress();
    // The record store when --store is not given: Store= as above, else the
    // file RecordStore::defaultPath().
    static QString store();
    // The help text of --store, naming that default.
    static QString storeHelp();
};

} // namespace kalvor::batch
