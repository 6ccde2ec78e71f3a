#pragma once
// The rows of the record store as the program writes and reads them.
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::records {

struct BatchRecord {
    qint64 seq = 0;
    QString name;
    QString operatorName;
    QString lot;
    QString idPrefix;  // IDs count up from idPrefix + idFirst when no list is given
    QString idFirst;
    QString openedUtc;
    QString programVersion;
};

// One stored dosimeter reading: the median of the stable readings.
struct ReadingRecord {
    qint64 seq = 0;
    qint64 batch = 0;
    QString dosimeterId;
    QString timeUtc;
    QString shown;     // as the reader shows it, e.g. " 0.512"; empty for a void record
    std::optional<double> absorbance;  // nothing for a void record
    double spread = 0;  // largest minus smallest of the readings used
    int count = 0;      // readings used
    QString wavelength;
    QString zero;
    QString zeroUtc;
    QString readerModel;
    QString readerSerial;
    QString readerGain;
    QString status;
    QString operatorName;
    QString programVersion;
    QString trigger;  // sensor, button or key
    std::optional<qint64> repeats;   // the reading this one reads again
    std::optional<qint64> corrects;  // the reading this one corrects
    // The dosimeter's record that was current until this one (another reading
    // of the same ID); a re-read names it in `repeats` as well.
    std::optional<qint64> supersedes;
    QString reason;                    // why a correction, re-read or void was made
    std::optional<double> thicknessMm; // the film's own thickness, from the ID list
    QString position;                  // where the film was, from the ID list

    // No reading of this dosimeter: the ID was given up (see `reason`).
    bool isVoid() const { return status == QLatin1String("void"); }
};

struct FilterCheckRecord {
    qint64 seq = 0;
    QString timeUtc;
    QString item;    // na, nb, nc
    QString filter;  // light, medium, dark
    QString shown;
    std::optional<double> value;
    QString wavelength;
    QString readerModel;
    QString readerSerial;
    QString readerGain;
    std::optional<qint64> batch;
    QString operatorName;
    QString programVersion;
};

struct EventRecord {
    qint64 seq = 0;
    QString timeUtc;
    QString kind;
    std::optional<qint64> batch;
    std::optional<qint64> reading;
    QString detail;
    QString operatorName;
    QString programVersion;
};

// Event kinds.
namespace event {
inline const QString ProgramStart = QStringLiteral("program-start");
inline const QString ProgramStop = QStringLiteral("program-stop");
inline const QString BatchOpened = QStringLiteral("batch-opened");
inline const QString BatchResumed = QStringLiteral("batch-resumed");
inline const QString BatchReopened = QStringLiteral("batch-reopened");
inline const QString BatchClosed = QStringLiteral("batch-closed");
inline const QString IdList = QStringLiteral("id-list");
inline const QString Capture = QStringLiteral("capture");
inline const QString ReRead = QStringLiteral("re-read");
inline const QString Correction = QStringLiteral("correction");
inline const QString Refused = QStringLiteral("refused");
inline const QString Export = QStringLiteral("export");
inline const QString Report = QStringLiteral("report");
inline const QString LinkLost = QStringLiteral("link-lost");
inline const QString LinkBack = QStringLiteral("link-back");
inline const QString WavelengthChange = QStringLiteral("wavelength-change");
inline const QString Void = QStringLiteral("void");
inline const QString Blocked = QStringLiteral("capture-stopped");
inline const QString Decision = QStringLiteral("decision");
inline const QString Zero = QStringLiteral("zero");
inline const QString Recognised = QStringLiteral("recognised");
// Appends failed (a server that went away) and work again; the detail says from when and why.
inline const QString StoreBack = QStringLiteral("store-back");
// The rows before it were copied from another store (kalvor-batch store copy).
inline const QString StoreCopied = QStringLiteral("store-copied");
} // namespace event

} // namespace kalvor::records
