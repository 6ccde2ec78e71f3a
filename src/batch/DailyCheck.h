#pragma once
// The day's filter check before a batch. Setting DailyCheck in section
// [QualityControl] of kalvor-batch.conf (the user's file, over
// <dir>/KALVOR/kalvor-batch.conf of each $XDG_CONFIG_DIRS, /etc/xdg by
// default; option --daily-check over both):
//   off      no check
//   warn     (default) a batch on a reader without the day's check starts,
//            and the warning is recorded as an event of the batch
//   require  no film of the batch is read until the reader has passed a
//            filter check: light, medium and dark each within tolerance
//            of their reference since local midnight, and since its last
//            result outside tolerance
// Checked when a batch is opened (new, resumed or reopened: each starts a
// day's reading) and, while it waits, at every filter check recorded; a check
// passed by anyone releases it. A batch that has started is never held again:
// a check that fails during it is shown and charted, and the next batch waits.
//
//   batch opened ──> reader known? ──no──> waits for serial and wavelength
//                         │yes                       │
//                         v                          v
//                   check passed? ──yes──> started <─┘ (once known, the same)
//                         │no
//            warn: event, started      require: held ──(a check passes)──> started
#include "records/RecordStore.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace kalvor::batch {

class BatchSession;

enum class DailyCheckMode { Off, Warn, Require };

std::optional<DailyCheckMode> parseDailyCheckMode(const QString& text);
QString dailyCheckModeName(DailyCheckMode mode);

struct DailyCheckSetting {
    DailyCheckMode mode = DailyCheckMode::Warn;
    QString source;   // the file it comes from; empty for the default
    QString problem;  // a value that is none of off, warn, require (then require holds)
};

// The system files of kalvor-batch.conf, most important first.
QStringList systemBatchSettingsFiles();
// From the user's file, else the first system file that has the key.
DailyCheckSetting dailyCheckSetting();

struct DailyCheckStatus {
    bool passed = false;
    QString text;  // the passing check, or what is missing and what to do
    QDateTime failedAt;  // the last result outside tolerance today; invalid when none
};

// Whether reader `serial` has passed a filter check at `wavelength` since
// local midnight of `now` (and since its last result outside tolerance).
DailyCheckStatus dailyCheckStatus(const records::RecordStore& store, const QString& serial, const QString& wavelength,
                                  const QDateTime& now);

// Holds the session's batch until the day's check, as the mode says.
class DailyCheckGuard : public QObject {
    Q_OBJECT
public:
    explicit DailyCheckGuard(BatchSession& session);

    void setMode(DailyCheckMode mode);
    DailyCheckMode mode() const { return mode_; }
    // The clock "since midnight" is judged by (tests set it).
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    // Why the open batch reads no film yet; empty when it may.
    const QString& holdReason() const { return hold_; }

signals:
    void changed();

private:
    void reconsider();
    void record(const QString& detail);

    BatchSession& session_;
    DailyCheckMode mode_ = DailyCheckMode::Warn;
    qint64 started_ = 0;  // the batch whose start is decided
    QString hold_;
    qint64 heldBatch_ = 0;       // the batch whose hold is recorded
    QDateTime failureRecorded_;  // the failed result the last hold event named
};

} // namespace kalvor::batch
