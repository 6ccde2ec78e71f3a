#include "batch/CalibrationStates.h"

#include <QHash>

namespace kalvor::batch {

using namespace kalvor::records;

QList<StoredCalibration> storedCalibrations(const RecordStore& store, const QString& lot)
{
    const QList<CalibrationRecord> all = calibrations(store, lot);
    QHash<qint64, const CalibrationRecord*> bySeq;
    for (const CalibrationRecord& c : all)
        bySeq.insert(c.seq, &c);
    // Approvals in the order they were made: each one is the current one for
    // its lot, reader and wavelength until the next approval of that key.
    QHash<qint64, ApprovalRecord> approvalOf;
    QHash<QString, qint64> latest;  // key -> calibration approved last
    QHash<qint64, qint64> followedBy;
    for (const ApprovalRecord& a : approvals(store)) {
        const CalibrationRecord* c = bySeq.value(a.calibration);
        if (!c)
            continue;
        approvalOf.insert(a.calibration, a);
        const QString key = c->readerSerial + QLatin1Char('\n') + normalWavelength(c->wavelength);
        if (const auto before = latest.constFind(key); before != latest.constEnd() && *before != a.calibration)
            followedBy.insert(*before, a.calibration);
        latest.insert(key, a.calibration);
    }
    QList<StoredCalibration> out;
    for (const CalibrationRecord& c : all) {
        StoredCalibration s{c, CalibrationState::Draft, std::nullopt, std::nullopt};
        if (approvalOf.contains(c.seq)) {
            s.approval = approvalOf.value(c.seq);
            const QString key = c.readerSerial + QLatin1Char('\n') + normalWavelength(c.wavelength);
            if (latest.value(key) == c.seq) {
                s.state = CalibrationState::Approved;
            } else {
                s.state = CalibrationState::Superseded;
                s.supersededBy = followedBy.value(c.seq);
            }
        }
        out << s;
    }
    return out;
}

QString stateText(CalibrationState state)
{
    switch (state) {
    case CalibrationState::Draft:
        return QStringLiteral("draft");
    case CalibrationState::Approved:
        return QStringLiteral("approved");
    case CalibrationState::Superseded:
        break;
    }
    return QStringLiteral("superseded");
}

QString calibrationSummary(const CalibrationRecord& c)
{
    return QStringLiteral("%1%2, reader %3 at %4, %5 to %6 kGy")
        .arg(c.model, c.throughZero ? QStringLiteral(" through zero") : QString(), c.readerSerial, c.wavelength,
             QString::number(c.rangeMin, 'g', 6), QString::number(c.rangeMax, 'g', 6));
}

} // namespace kalvor::batch
