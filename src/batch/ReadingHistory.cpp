#include "batch/ReadingHistory.h"

namespace kalvor::batch {

void ReadingHistory::add(const QDateTime& time, double value)
{
    points_.append(Point{time, value});
    trim(time);
}

void ReadingHistory::trim(const QDateTime& now)
{
    const QDateTime oldest = now.addMSecs(-spanMs_);
    qsizetype drop = 0;
    while (drop < points_.size() && points_[drop].time < oldest)
        ++drop;
    points_.remove(0, drop);
}

} // namespace kalvor::batch
