#pragma once
// The command line of kalvor-batch:
//   kalvor-batch [--batch NAME [--operator WHO] [--lot LOT] [--ids FILE] ...]
//   kalvor-batch export (--batch NAME | --from WHEN | --to WHEN ...) --csv FILE
//   kalvor-batch verify
// export and verify run without a window.
#include "batch/BatchSession.h"
#include "records/CsvExport.h"
#include "batch/Stability.h"

#include <QStringList>
#include <QTextStream>

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

    QString storePath;   // default RecordStore::defaultPath()
    QString socketPath;  // default LinkPaths::socketPath()

    QString csvPath;
    ExportSelection selection;
};

CommandLine parseCommandLine(const QStringList& arguments);
QString helpText();

// Reads an ID list file (CSV or one ID per line, UTF-8).
std::optional<QStringList> readIdFile(const QString& path, QString* why);

// A point in time from the command line: 2026-12-07 (the start of that local
// day; as an upper bound, the end of it), 2026-12-07T14:30 (local time), or
// with Z or an offset.
std::optional<QDateTime> parseWhen(const QString& text, bool upperBound);

int runExport(const CommandLine& cl, QTextStream& out, QTextStream& err);
int runVerify(const CommandLine& cl, QTextStream& out, QTextStream& err);

} // namespace kalvor::batch
