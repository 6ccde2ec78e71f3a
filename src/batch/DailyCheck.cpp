#include "batch/DailyCheck.h"

#include "batch/BatchSession.h"
#include "batch/BatchSettings.h"
#include "batch/QualityControl.h"
#include "records/Calibrations.h"
#include "records/QualityRecords.h"

#include <QDir>
#include <QSettings>

namespace kalvor::batch {

using namespace kalvor::records;

namespace {

const QString kKey = QStringLiteral("QualityControl/DailyCheck");
const QStringList kFilters{QStringLiteral("light"), QStringLiteral("medium"), QStringLiteral("dark")};

QString whatToDo()
{
    return QStringLiteral("put the reference filters (light, medium, dark) through KALVOR's Setup > Neutral Density "
                          "Filter Check (Ctrl+N)");
}

QString clock(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("HH:mm")); }

} // namespace

std::optional<DailyCheckMode> parseDailyCheckMode(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("off"))
        return DailyCheckMode::Off;
    if (t == QLatin1String("warn"))
        return DailyCheckMode::Warn;
    if (t == QLatin1String("require"))
        return DailyCheckMode::Require;
    return std::nullopt;
}

QString dailyCheckModeName(DailyCheckMode mode)
{
    switch (mode) {
    case DailyCheckMode::Off:
        return QStringLiteral("off");
    case DailyCheckMode::Warn:
        return QStringLiteral("warn");
    case DailyCheckMode::Require:
        break;
    }
    return QStringLiteral("require");
}

DailyCheckSetting dailyCheckSetting()
{
    DailyCheckSetting s;
    for (const QString& file : BatchSettings::filesInOrder()) {
        const QSettings settings(file, QSettings::IniFormat);
        if (!settings.contains(kKey))
            continue;
        const QString value = settings.value(kKey).toString();
        s.source = file;
        if (const std::optional<DailyCheckMode> mode = parseDailyCheckMode(value)) {
            s.mode = *mode;
        } else {
            // A setting meant to stop unchecked batches fails safe.
            s.mode = DailyCheckMode::Require;
            s.problem = QStringLiteral("DailyCheck=%1 in %2 is none of off, warn, require: require holds until it is "
                                       "corrected")
                            .arg(value, file);
        }
        return s;
    }
    return s;
}

DailyCheckStatus dailyCheckStatus(const RecordStore& store, const QString& serial, const QString& wavelength,
                                  const QDateTime& now)
{
    DailyCheckStatus s;
    const QString reader = QStringLiteral("reader %1 at %2").arg(serial, normalWavelength(wavelength));
    const QList<ReferenceSet> references = referenceSets(store);
    const QDateTime midnight = now.toLocalTime().date().startOfDay();
    if (!referenceFor(references, serial, wavelength, now.toLocalTime().date())) {
        s.text = QStringLiteral("%1 has no reference filters recorded: record their certificate (File > Reference "
                                "Filters, or kalvor-batch reference add), then %2")
                     .arg(reader, whatToDo());
        return s;
    }
    // Since midnight, or since the last result outside tolerance: each filter within.
    QList<JudgedCheck> today;
    for (const FilterCheckRecord& c : store.filterChecks()) {
        if (c.readerSerial != serial || normalWavelength(c.wavelength) != normalWavelength(wavelength))
            continue;
        JudgedCheck j = judgeCheck(references, c);
        if (j.time >= midnight.toUTC() && j.time <= now.toUTC() && j.judged())
            today << j;
    }
    std::stable_sort(today.begin(), today.end(), [](const JudgedCheck& a, const JudgedCheck& b) { return a.time < b.time; });
    std::optional<JudgedCheck> failed;
    QHash<QString, JudgedCheck> passed;
    for (const JudgedCheck& j : today) {
        if (!*j.within) {
            failed = j;
            passed.clear();
        } else {
            passed.insert(j.check.filter, j);
        }
    }
    QStringList missing;
    for (const QString& f : kFilters)
        if (!passed.contains(f))
            missing << f;
    if (missing.isEmpty()) {
        QStringList parts;
        for (const QString& f : kFilters)
            parts << QStringLiteral("%1 %2%3").arg(f, *passed.value(f).deviation >= 0 ? QStringLiteral("+") : QString(),
                                                   QString::number(*passed.value(f).deviation, 'f', 3));
        s.passed = true;
        s.text = QStringLiteral("%1 passed its filter check at %2 (%3)")
                     .arg(reader, clock(passed.value(QStringLiteral("dark")).time), parts.join(QStringLiteral(", ")));
        return s;
    }
    if (failed)
        s.failedAt = failed->time;
    if (failed)
        s.text = QStringLiteral("%1 failed its filter check at %2 (%3); %4 again, and the batch starts when light, "
                                "medium and dark are within tolerance")
                     .arg(reader, clock(failed->time), judgementText(*failed), whatToDo());
    else if (!passed.isEmpty())
        s.text = QStringLiteral("%1 still needs the %2 filter%3 of today's check: %4")
                     .arg(reader, missing.join(QStringLiteral(" and ")), missing.size() > 1 ? QStringLiteral("s") : QString(),
                          whatToDo());
    else
        s.text = QStringLiteral("%1 has had no filter check since midnight: %2").arg(reader, whatToDo());
    return s;
}

DailyCheckGuard::DailyCheckGuard(BatchSession& session) : session_(session)
{
    connect(&session, &BatchSession::batchChanged, this, &DailyCheckGuard::reconsider);
    connect(&session, &BatchSession::readerChanged, this, &DailyCheckGuard::reconsider);
    connect(&session, &BatchSession::filterCheckStored, this, &DailyCheckGuard::reconsider);
}

void DailyCheckGuard::setMode(DailyCheckMode mode)
{
    mode_ = mode;
    reconsider();
}

void DailyCheckGuard::record(const QString& detail)
{
    EventRecord e;
    e.timeUtc = utcNow();
    e.kind = event::DailyCheck;
    e.batch = session_.batch().seq;
    e.detail = detail;
    e.operatorName = session_.operatorName();
    e.programVersion = QStringLiteral(KALVOR_VERSION);
    QString why;
    if (!session_.store().appendEvent(e, &why))
        emit session_.problem(QStringLiteral("could not record the daily check: %1").arg(why));
}

void DailyCheckGuard::reconsider()
{
    const QString before = hold_;
    if (!session_.hasBatch()) {
        started_ = 0;
        hold_.clear();
    } else if (session_.batch().seq != started_) {
        const ReaderInfo& reader = session_.reader();
        if (mode_ == DailyCheckMode::Off) {
            started_ = session_.batch().seq;
            hold_.clear();
        } else if (reader.serial.isEmpty() || reader.wavelength.isEmpty()) {
            if (mode_ == DailyCheckMode::Require)
                hold_ = QStringLiteral("Batch %1 waits for the reader's serial number and wavelength from KALVOR, to "
                                       "see that it passed today's filter check.")
                            .arg(session_.batch().name);
        } else {
            const DailyCheckStatus status = dailyCheckStatus(session_.store(), reader.serial, reader.wavelength, clock());
            if (status.passed) {
                if (!hold_.isEmpty())
                    record(QStringLiteral("released: %1").arg(status.text));
                started_ = session_.batch().seq;
                hold_.clear();
            } else if (mode_ == DailyCheckMode::Warn) {
                record(QStringLiteral("warning (DailyCheck=warn), the batch starts: %1").arg(status.text));
                emit session_.problem(QStringLiteral("Warning: %1.").arg(status.text));
                started_ = session_.batch().seq;
                hold_.clear();
            } else {
                hold_ = QStringLiteral("Batch %1 cannot start: %2.").arg(session_.batch().name, status.text);
                // The hold is recorded as it begins and at each further failure, not at each filter on the way.
                if (heldBatch_ != session_.batch().seq || status.failedAt != failureRecorded_) {
                    record(QStringLiteral("held (DailyCheck=require): %1").arg(status.text));
                    heldBatch_ = session_.batch().seq;
                    failureRecorded_ = status.failedAt;
                }
            }
        }
    }
    if (hold_ != before)
        emit changed();
}

} // namespace kalvor::batch
