#include "records/CurrentRecords.h"

#include <QHash>

namespace kalvor::records {

QHash<qint64, qint64> supersededBy(const QList<ReadingRecord>& readings)
{
    QHash<qint64, const ReadingRecord*> bySeq;
    for (const ReadingRecord& r : readings)
        bySeq.insert(r.seq, &r);
    QHash<qint64, qint64> out;
    for (const ReadingRecord& later : readings)
        for (const std::optional<qint64>& named : {later.repeats, later.corrects, later.supersedes}) {
            if (!named)
                continue;
            const ReadingRecord* earlier = bySeq.value(*named);
            if (earlier && earlier->batch == later.batch && earlier->seq < later.seq
                && out.value(earlier->seq) < later.seq)
                out.insert(earlier->seq, later.seq);
        }
    return out;
}

QSet<qint64> supersededReadings(const QList<ReadingRecord>& readings)
{
    const QHash<qint64, qint64> by = supersededBy(readings);
    return QSet<qint64>(by.keyBegin(), by.keyEnd());
}

QList<bool> currentFlags(const QList<ReadingRecord>& readings)
{
    const QSet<qint64> superseded = supersededReadings(readings);
    QList<bool> out;
    out.reserve(readings.size());
    for (const ReadingRecord& r : readings)
        out << !superseded.contains(r.seq);
    return out;
}

} // namespace kalvor::records
