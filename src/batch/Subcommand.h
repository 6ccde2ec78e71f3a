#pragma once
// The commands of kalvor-batch that run without a window, beside export and
// verify: each parses its own options (after its name) and runs to an exit
// status. They never touch the display. One line per command in
// Subcommands.cpp lists them; each lives in a file of its own. A command
// that draws (the PDF report) lives in a layer above this one: the program
// adds it with addSubcommand() at start and runs it under a QGuiApplication
// on the offscreen platform, still without a display.
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>

namespace kalvor::records {
class RecordStore;
}

namespace kalvor::batch {

struct Subcommand {
    const char* name;
    const char* summary;  // one line for kalvor-batch --help
    // `arguments` start with the program's name, then what follows the command.
    int (*run)(const QStringList& arguments, QTextStream& out, QTextStream& err);
    bool draws = false;  // needs a QGuiApplication (offscreen)
};

const QList<Subcommand>& subcommands();
// Adds a command after those of Subcommands.cpp, before --help lists them.
void addSubcommand(const Subcommand& command);

// The commands, each in a file of its own.
int runFit(const QStringList& arguments, QTextStream& out, QTextStream& err);        // FitCommand.cpp
int runLot(const QStringList& arguments, QTextStream& out, QTextStream& err);        // LotCommand.cpp
int runCalibrate(const QStringList& arguments, QTextStream& out, QTextStream& err);  // CalibrationCommands.cpp
int runApprove(const QStringList& arguments, QTextStream& out, QTextStream& err);    // CalibrationCommands.cpp
int runDose(const QStringList& arguments, QTextStream& out, QTextStream& err);       // DoseCommand.cpp
int runReference(const QStringList& arguments, QTextStream& out, QTextStream& err);          // ReferenceCommand.cpp
int runQc(const QStringList& arguments, QTextStream& out, QTextStream& err);                 // QcCommand.cpp
int runVerifyCalibration(const QStringList& arguments, QTextStream& out, QTextStream& err);  // VerifyCalibrationCommand.cpp
int runStore(const QStringList& arguments, QTextStream& out, QTextStream& err);  // StoreCommand.cpp

const Subcommand* findSubcommand(const QString& name);

// The options every command shares (--store, --help) around a QCommandLineParser.
// Without --store, a command uses the store of the settings (BatchSettings::store()).
class CommandParser {
public:
    // `usesStore` false: a command that never opens the record store, which
    // then offers no --store.
    CommandParser(const QString& command, const QString& description, bool usesStore = true);

    QCommandLineParser& parser() { return p_; }
    void add(const QCommandLineOption& option) { p_.addOption(option); }
    // Parses; on --help prints it and gives 0, on a usage error says so and
    // gives 2; nothing when the command goes on.
    std::optional<int> parse(const QStringList& arguments, QTextStream& out, QTextStream& err);
    QString storePath() const;
    // "kalvor-batch COMMAND: TEXT" on `err`; returns the usage status, 2.
    int usage(QTextStream& err, const QString& text) const;

private:
    QString command_;
    QCommandLineParser p_;
    QCommandLineOption store_;
    QCommandLineOption help_;
    bool usesStore_;
};

// Opens the store for a command: nothing when it is open, else the exit
// status after saying why on `err`.
std::optional<int> openStoreFor(records::RecordStore& store, const QString& path, bool createIfMissing,
                                QTextStream& err);

} // namespace kalvor::batch
