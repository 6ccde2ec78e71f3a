#pragma once
// The command line of kalvor-batch:
//   kalvor-batch [--batch NAME [--operator WHO] [--lot LOT] [--ids FILE] ...]
//   kalvor-batch export (--batch NAME | --from WHEN | --to WHEN ...) --csv FILE [--raw]
//   kalvor-batch verify [--expect HASH [--at ROW] | --report FILE]
// export and verify run without a window and open the store read-only.
#include "batch/BatchSession.h"
#include "records/ChainVerifier.h"
#include "records/CsvExport.h"
#include "batch/Stability.h"

#include <QStringList>
#include <QTextStream>
#include <functional>

namespace kalvor::batch {

// Batch reading works on the rows of the record store.
using namespace kalvor::records;

namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Failed = 1;          // verify: the chain or the file is damaged; export: not written
inline constexpr int Usage = 2;
inline constexpr int AlreadyRunning = 3;  // another batch window of this user is open
inline constexpr int StoreError = 4;      // the record store cannot be opened
inline constexpr int NoDisplay = 5;       // the window has no display to open on
} // namespace exitcode

struct CommandLine {
    enum class Mode { Window, Export, Verify, Help, Version, Error };
    Mode mode = Mode::Window;
    QString error;

    bool batchGiven = false;
    BatchOptions batch;
    QString idsFile;
    std::optional<StabilityRule> rule;  // given on the command line
    std::optional<DailyCheckMode> dailyCheck;  // --daily-check, over the setting

    QString storePath;   // default RecordStore::defaultPath()
    QString socketPath;  // default LinkPaths::socketPath()

    QString csvPath;
    ExportSelection selection;
    bool raw = false;  // export: cells unchanged

    std::optional<KeptHead> expect;  // verify --expect [--at]
    QString reportFile;              // verify --report
};

CommandLine parseCommandLine(const QStringList& arguments);
QString helpText();

// Reads an ID list file (CSV or one ID per line, UTF-8; optional columns
// thickness and position). Any fault fails with its line and reason.
std::optional<QList<IdEntry>> readIdFile(const QString& path, QString* why);

// A point in time from the command line: 2026-12-07 (the start of that local
// day; as an upper bound, the end of it), 2026-12-07T14:30 (local time), or
// with Z or an offset.
std::optional<QDateTime> parseWhen(const QString& text, bool upperBound);

// Reads the store at `path` read-only, again when it changed while it was
// read (a window that checkpointed or closed meanwhile): `read` gives the
// exit status of an attempt, or nothing when it went through.
int withReadOnlyStore(const QString& path, QTextStream& err, const std::function<std::optional<int>(RecordStore&)>& read);

int runExport(const CommandLine& cl, QTextStream& out, QTextStream& err);
int runVerify(const CommandLine& cl, QTextStream& out, QTextStream& err);

} // namespace kalvor::batch
