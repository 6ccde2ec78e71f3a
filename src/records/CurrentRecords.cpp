#include "records/CurrentRecords.h"

namespace kalvor::records {

QHash<qint64, qint64> supersededReadings(const QList<ReadingRecord>& readings)
{
    QHash<qint64, qint64> out;
    for (const ReadingRecord& r : readings)
        for (const std::optional<qint64>& named : {r.repeats, r.corrects, r.supersedes})
            if (named)
                out.insert(*named, r.seq);
    return out;
}

} // namespace kalvor::records
