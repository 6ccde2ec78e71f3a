#include "batch/Subcommand.h"

#include "batch/BatchSettings.h"
#include "batch/CommandLine.h"
#include "core/PrintableText.h"
#include "records/RecordStore.h"

namespace kalvor::batch {

namespace {

QList<Subcommand>& commandList()
{
    // One line per command, in the order --help lists them.
    static QList<Subcommand> list{
        {"lot", "film lots: add NAME (or change it) with thickness and background, list them", runLot},
        {"calibrate", "fits a lot's calibration from a batch of films of known dose; stored as a draft", runCalibrate},
        {"approve", "approves a calibration, so that it gives doses", runApprove},
        {"dose", "the dose of a film from its absorbance, with its uncertainty", runDose},
        {"fit", "fits a calibration curve to a CSV file of doses and responses (see fit --help)", runFit},
        {"reference", "records and lists the reference filters of a reader (see reference --help)", runReference},
        {"qc", "filter checks against their references, control charts, zero trend; CSV, PDF (see qc --help)", runQc},
        {"verify-calibration", "verifies a lot's calibration with films of reference doses (see verify-calibration --help)",
         runVerifyCalibration},
        {"store", "copy --from STORE --to STORE copies a store, chain and all, into an empty one; init makes one", runStore},
    };
    return list;
}

} // namespace

const QList<Subcommand>& subcommands() { return commandList(); }

void addSubcommand(const Subcommand& command)
{
    if (!findSubcommand(QLatin1String(command.name)))
        commandList().append(command);
}

const Subcommand* findSubcommand(const QString& name)
{
    for (const Subcommand& c : subcommands())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

CommandParser::CommandParser(const QString& command, const QString& description, bool usesStore)
    : command_(command),
      store_(QStringLiteral("store"), BatchSettings::storeHelp(), QStringLiteral("STORE")),
      help_({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")),
      usesStore_(usesStore)
{
    p_.setApplicationDescription(description);
    p_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (usesStore)
        p_.addOption(store_);
    p_.addOption(help_);
}

std::optional<int> CommandParser::parse(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (!p_.parse(arguments))
        return usage(err, p_.errorText());
    if (p_.isSet(help_)) {
        QString text = p_.helpText();
        const qsizetype eol = text.indexOf(QLatin1Char('\n'));
        text.replace(0, eol, QStringLiteral("Usage: kalvor-batch %1 [options]").arg(command_));
        out << text;
        out.flush();
        return exitcode::Ok;
    }
    if (usesStore_ && p_.isSet(store_) && p_.value(store_).isEmpty())
        return usage(err, QStringLiteral("--store needs a file or a postgresql:// URI"));
    return std::nullopt;
}

QString CommandParser::storePath() const
{
    return usesStore_ && p_.isSet(store_) ? p_.value(store_) : BatchSettings::store();
}

int CommandParser::usage(QTextStream& err, const QString& text) const
{
    err << "kalvor-batch " << command_ << ": " << terminalText(text) << "\nTry kalvor-batch " << command_ << " --help." << Qt::endl;
    return exitcode::Usage;
}

std::optional<int> openStoreFor(records::RecordStore& store, const QString& path, bool createIfMissing, QTextStream& err)
{
    QString why;
    const auto mode = createIfMissing ? records::RecordStore::OpenMode::CreateIfMissing
                                      : records::RecordStore::OpenMode::ExistingOnly;
    if (store.open(path, mode, &why) == records::RecordStore::OpenError::None)
        return std::nullopt;
    err << "kalvor-batch: " << why << Qt::endl;
    return exitcode::StoreError;
}

} // namespace kalvor::batch
